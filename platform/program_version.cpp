#include "platform/program_version.h"

const char* ProgramVersion() {
    return ALBUM_VERSION;
}
