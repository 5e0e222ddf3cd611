#include "crashhandler.h"

void CrashHandler::install() { }
