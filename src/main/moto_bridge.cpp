#include "main/moto_bridge.h"

int main() { return bridge_main(); }
