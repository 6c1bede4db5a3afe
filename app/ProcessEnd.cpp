#include "app/ProcessEnd.h"

#include <windows.h>

void EndProcess() {
    ExitProcess(0);
}
