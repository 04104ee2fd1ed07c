// The built-in theme, "Level Up", as XM writer records: composed note by note, with samples
// synthesised in integer arithmetic, so the same bytes come out everywhere. Pairs with
// main.cpp (compose-theme), which writes it to assets/theme.xm.
#pragma once

#include "tools/xmwriter/xm_writer.h"

XmModule composeTheme();
