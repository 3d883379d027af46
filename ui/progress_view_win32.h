// The Win32 progress view: a window of class "SplashScreen" on a thread of
// its own per ProgressWindow, so that it keeps painting while the
// user-interface thread is busy and pumps no messages.
#pragma once

#include "platform/progress_view.h"

// One instance for the process; install it as platform::Services::progress.
platform::ProgressView& Win32ProgressView();
