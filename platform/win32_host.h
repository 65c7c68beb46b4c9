// Stub-only additions to the Win32 platform layer: the safe DLL search set
// up before anything else loads, and the open-file dialog reached through
// comdlg32 loaded from the system folder only.
#pragma once

// Restricts DLL loading to the system folder (where the system supports it)
// and loads comdlg32 and shell32 from there. Call first thing at start-up.
void PlatformSecureLoading();
// GetOpenFileNameA on the given request; 0 when comdlg32 is unavailable.
int PlatformGetOpenFileName(void* request);
