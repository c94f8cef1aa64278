// The configuration file: each input is written as vexaqv.cfg into a scratch
// working directory and read by read_config, exactly as start-up reads it.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "main/config.h"

namespace {

std::string scratch;
int home_dir = -1;  // libFuzzer's own working directory, for its corpus and artifacts

void remove_scratch() {
  std::string file = scratch + "/" + CONFIG_FILE_NAME;
  unlink(file.c_str());
  rmdir(scratch.c_str());
}

void clear_settings() {
  memset(RptrCall, 0, sizeof RptrCall);
  RptrID = 0;
  memset(RptrIP, 0, sizeof RptrIP);
  RptrPort = 0;
  memset(MasterIP, 0, sizeof MasterIP);
  RptrQRGtx = 0;
  RptrQRGrx = 0;
  memset(MyBridgeID, 0, sizeof MyBridgeID);
  memset(Key, 0, sizeof Key);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char dir[] = "/tmp/bridge_config_fuzz.XXXXXX";
  if (!mkdtemp(dir)) abort();
  scratch = dir;
  home_dir = open(".", O_RDONLY | O_DIRECTORY);
  if (home_dir < 0) abort();
  atexit(remove_scratch);
  fuzz_quiet_stdout();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (chdir(scratch.c_str()) != 0) abort();
  FILE* file = fopen(CONFIG_FILE_NAME, "wb");
  if (!file) abort();
  if (size && fwrite(data, 1, size, file) != size) abort();
  fclose(file);
  clear_settings();

  int valid = read_config();
  if (fchdir(home_dir) != 0) abort();
  FUZZ_CHECK(valid == 0 || valid == 1);
  // Text settings always end inside their fields.
  FUZZ_CHECK(memchr(RptrCall, 0, sizeof RptrCall) != nullptr);
  FUZZ_CHECK(memchr(RptrIP, 0, sizeof RptrIP) != nullptr);
  FUZZ_CHECK(memchr(MasterIP, 0, sizeof MasterIP) != nullptr);
  // A rejected call sign leaves it empty; an accepted one is 3 to 8 characters.
  size_t call = strlen(RptrCall);
  FUZZ_CHECK(call == 0 || (call >= 3 && call <= 8));
  // Our peer identifier is only ever replaced by one in 2..0xFFFFFE.
  uint32_t id = static_cast<uint32_t>(MyBridgeID[0]) << 24 | MyBridgeID[1] << 16 | MyBridgeID[2] << 8 | MyBridgeID[3];
  FUZZ_CHECK(id == 0 || (id >= 2 && id <= 0xFFFFFE));
  return 0;
}
