#include "main/config.h"

#include <arpa/inet.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

char RptrCall[9];
uint32_t RptrID;
char RptrIP[16];
int32_t RptrPort;
char MasterIP[16];
int32_t RptrQRGtx;
int32_t RptrQRGrx;
unsigned char MyBridgeID[4];
unsigned char Key[20];
int32_t JitterBuffer = JITTER_BUFFER_OFF;
uint8_t Timeslots = TIMESLOTS_DEFAULT;

bool timeslot_bridged(unsigned slot) { return slot <= 2 && (Timeslots & (1u << slot)) != 0; }

in_addr_t address_of(AddressSetting& cache, const char (&setting)[16]) {
  if (!cache.known || memcmp(cache.text, setting, sizeof cache.text) != 0) {
    memcpy(cache.text, setting, sizeof cache.text);
    cache.text[sizeof cache.text - 1] = '\0';
    cache.address = inet_addr(cache.text);
    cache.known = true;
  }
  return cache.address;
}

namespace {

constexpr int kMaxKeyDigits = 40;
constexpr unsigned kCallMin = 3;
constexpr unsigned kCallMax = 8;

// atoi semantics without atoi's undefined behaviour on overflow: leading
// blanks, optional sign, digits up to the first other character; the result
// wraps like a 32-bit int so that a negative value prints as its unsigned form.
uint32_t parse_number(const char* text) {
  while (*text == ' ' || *text == '\t' || *text == '\n' || *text == '\v' || *text == '\f' || *text == '\r') ++text;
  bool negative = false;
  if (*text == '+' || *text == '-') negative = (*text++ == '-');
  uint32_t value = 0;
  while (*text >= '0' && *text <= '9') value = value * 10u + static_cast<uint32_t>(*text++ - '0');
  return negative ? 0u - value : value;
}

void copy_text(char* dest, size_t capacity, const char* value) {
  strncpy(dest, value, capacity - 1);
  dest[capacity - 1] = '\0';
}

int hex_digit_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A wrong key would make every signature silently wrong, so a key text that
// is too long or not hexadecimal rejects the line instead of being guessed at.
bool convert_network_key(const char* text) {
  printf("NetworkKey=[%s]\n", text);
  size_t length = strlen(text);
  if (length > static_cast<size_t>(kMaxKeyDigits)) {
    printf("NetworkKey [%s] has more than %d hexadecimal digits!\n", text, kMaxKeyDigits);
    return false;
  }
  for (size_t i = 0; i < length; ++i) {
    if (hex_digit_value(text[i]) < 0) {
      printf("NetworkKey [%s] holds a character that is not a hexadecimal digit!\n", text);
      return false;
    }
  }
  char digits[kMaxKeyDigits];
  size_t padding = static_cast<size_t>(kMaxKeyDigits) - length;
  memset(digits, '0', padding);
  memcpy(digits + padding, text, length);
  for (int i = 0; i < 20; ++i)
    Key[i] = static_cast<unsigned char>(hex_digit_value(digits[2 * i]) << 4 | hex_digit_value(digits[2 * i + 1]));
  printf("KeyBytes={");
  for (int i = 0; i < 20; ++i) printf(i < 19 ? "%2.2x:" : "%2.2x", Key[i]);
  printf("}\n");
  return true;
}

// The optional jitter-buffer key. A typo must never silently change how calls
// sound, so only "auto" or plain digits within the range are taken; anything
// else makes the file invalid.
bool accept_jitter_buffer(const char* value) {
  if (strcmp(value, "auto") == 0) {
    JitterBuffer = JITTER_BUFFER_AUTO;
    printf("JitterBuffer=[auto]\n");
    return true;
  }
  size_t digits = strspn(value, "0123456789");
  int32_t ms = -1;
  if (digits > 0 && digits <= 3 && value[digits] == '\0') ms = static_cast<int32_t>(parse_number(value));
  if (ms < JITTER_BUFFER_MIN_MS || ms > JITTER_BUFFER_MAX_MS) {
    printf("Error in JitterBuffer=[%s] [%d-%d or auto]\n", value, JITTER_BUFFER_MIN_MS, JITTER_BUFFER_MAX_MS);
    return false;
  }
  JitterBuffer = ms;
  printf("JitterBuffer=[%d]\n", JitterBuffer);
  return true;
}

// The optional timeslot key. As with the jitter buffer, only the exact
// spellings are taken: a repeater half bridged by a typo would be hard to see.
bool accept_timeslots(const char* value) {
  const struct {
    const char* text;
    uint8_t slots;
  } choices[] = {{"2", TIMESLOT_2_BIT}, {"1", TIMESLOT_1_BIT}, {"1,2", TIMESLOT_1_BIT | TIMESLOT_2_BIT}};
  for (const auto& choice : choices) {
    if (strcmp(value, choice.text) != 0) continue;
    Timeslots = choice.slots;
    printf("Timeslots=[%s]\n", choice.text);
    return true;
  }
  printf("Error in Timeslots=[%s] [2, 1 or 1,2]\n", value);
  return false;
}

// Handles one key=value line; true when the line counts as accepted.
bool accept_setting(const char* key, const char* value) {
  if (strcmp(key, "RptrCall") == 0) {
    RptrCall[0] = '\0';
    size_t length = strlen(value);
    if (length < kCallMin || length > kCallMax) {
      printf("RptrCall [%s], has more than %d characters!\n", value, kCallMax);
      return false;
    }
    copy_text(RptrCall, sizeof RptrCall, value);
    printf("RptrCall=[%s]\n", RptrCall);
    return true;
  }
  if (strcmp(key, "RptrID") == 0) {
    RptrID = parse_number(value);
    if (RptrID < 1 || RptrID > 0xFFFFFF) {
      printf("Error in RptrID=[%u]\n", RptrID);
      return false;
    }
    printf("RptrID=[%u]\n", RptrID);
    return true;
  }
  if (strcmp(key, "RptrIP") == 0) {
    copy_text(RptrIP, sizeof RptrIP, value);
    printf("RptrIP=[%s]\n", RptrIP);
    return true;
  }
  if (strcmp(key, "RptrPort") == 0) {
    uint32_t port = parse_number(value);
    RptrPort = static_cast<int32_t>(port);
    if (port < 1024 || port > 65535) {
      printf("Error in RptrPort=[%u] [1024-65535]\n", port);
      return false;
    }
    printf("RptrPort=[%d]\n", RptrPort);
    return true;
  }
  if (strcmp(key, "MasterIP") == 0) {
    copy_text(MasterIP, sizeof MasterIP, value);
    printf("MasterIP=[%s]\n", MasterIP);
    return true;
  }
  if (strcmp(key, "RptrQRGtx") == 0) {
    RptrQRGtx = static_cast<int32_t>(parse_number(value));
    printf("RptrQRGtx=[%d]\n", RptrQRGtx);
    return true;
  }
  if (strcmp(key, "RptrQRGrx") == 0) {
    RptrQRGrx = static_cast<int32_t>(parse_number(value));
    printf("RptrQRGrx=[%d]\n", RptrQRGrx);
    return true;
  }
  if (strcmp(key, "MyBridgeID") == 0) {
    uint32_t id = parse_number(value);
    if (id >= 2 && id <= 0xFFFFFE) {
      MyBridgeID[0] = static_cast<unsigned char>(id >> 24);
      MyBridgeID[1] = static_cast<unsigned char>(id >> 16);
      MyBridgeID[2] = static_cast<unsigned char>(id >> 8);
      MyBridgeID[3] = static_cast<unsigned char>(id);
    }
    printf("MyBridgeID=[%u] {%2.2x:%2.2x:%2.2x:%2.2x}\n", id, MyBridgeID[0], MyBridgeID[1], MyBridgeID[2],
           MyBridgeID[3]);
    return true;
  }
  if (strcmp(key, "NetworkKey") == 0) return convert_network_key(value);
  return false;
}

}  // namespace

int read_config() {
  FILE* file = fopen(CONFIG_FILE_NAME, "r");
  if (!file) return 0;
  uint16_t accepted = 0;
  bool optional_rejected = false;
  JitterBuffer = JITTER_BUFFER_OFF;
  Timeslots = TIMESLOTS_DEFAULT;
  char line[1020];
  while (fgets(line, sizeof line, file)) {
    if (strchr(line, '#')) continue;
    if (char* cr = strchr(line, '\r')) *cr = '\0';
    if (char* lf = strchr(line, '\n')) *lf = '\0';
    char* equals = strchr(line, '=');
    if (!equals) continue;
    *equals = '\0';
    if (strcmp(line, "JitterBuffer") == 0) {
      if (!accept_jitter_buffer(equals + 1)) optional_rejected = true;
      continue;
    }
    if (strcmp(line, "Timeslots") == 0) {
      if (!accept_timeslots(equals + 1)) optional_rejected = true;
      continue;
    }
    if (accept_setting(line, equals + 1)) ++accepted;
  }
  fclose(file);
  if (accepted == 9 && !optional_rejected) {
    puts("AMBE Error Correction not activated");
    return 1;
  }
  printf("Configuration file invalid... (%d)\n", accepted);
  return 0;
}
