// The process-wide values: the one work area and the start-up settings that
// live beside it. All start at zero; start-up fills them.
#include "core/workarea.h"

SfxWorkArea* Work = nullptr;
void* SfxIcon = nullptr;
void* InstanceHandle = nullptr;
int AutoStartMode = 0;
int DestinationFromCommandLine = 0;
int IsWin32s = 0;
int OverwriteSilently = 0;
int SilentMode = 0;
const char* CommandTail = nullptr;
