#include "main/repeater_address.h"

#include <mutex>

namespace {

std::mutex fromUser2_lock;
sockaddr_in fromUser2{};
bool fromUser2_known = false;

}  // namespace

void set_fromUser2(const sockaddr_in& address) {
  std::lock_guard<std::mutex> guard(fromUser2_lock);
  fromUser2 = address;
  fromUser2_known = true;
}

bool get_fromUser2(sockaddr_in* address) {
  std::lock_guard<std::mutex> guard(fromUser2_lock);
  if (!fromUser2_known) return false;
  *address = fromUser2;
  return true;
}
