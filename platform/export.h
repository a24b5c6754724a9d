// Symbol visibility for the platform library. Everything else is hidden.
#pragma once

#define PLATFORM_API __attribute__((visibility("default")))
