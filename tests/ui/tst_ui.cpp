#include "uiharness.h"

#include <QtQuickTest>

QUICK_TEST_MAIN_WITH_SETUP(ui, UiHarness)
