// Resource identifiers shared by app.rc and the code that loads them.
#pragma once

#define IDI_APP_ICON 108
#define IDR_SKIN_PACKAGE 129
