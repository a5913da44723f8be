// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's layout table: every control with its name, kind,
// parent, text, geometry, alignment and initial state.
#pragma once

#include "ui/FormLayout.h"

namespace rastrace::ui {

const FormTable& rtcFrmMainForm();

}  // namespace rastrace::ui
