#include "core/BuildKey.h"

#ifndef OSTREL_BUILD_KEY
#error "OSTREL_BUILD_KEY must be defined by the build (\"DLM\" or \"ISV\")"
#endif

const char* BuildKey() {
    return OSTREL_BUILD_KEY;
}
