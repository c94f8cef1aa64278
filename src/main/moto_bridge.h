#pragma once
// Chief header of the bridge: everything the start-up and supervision code
// shares with the worker threads.
#include "main/config.h"
#include "main/log_time.h"
#include "main/sockets.h"
#include "main/startup.h"
#include "main/supervision.h"
#include "main/udp_io.h"
