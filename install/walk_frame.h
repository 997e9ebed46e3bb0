// One level of a directory walk.
#pragma once

#include "platform/kernel/files.h"

struct WalkFrame {
    WCHAR szSrcDir[MAX_PATH];
    WCHAR szDstDir[MAX_PATH];
    HANDLE hEnum;
};
