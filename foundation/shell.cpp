#include "foundation/shell.h"

IShell& NullShell() {
    static IShell shell;
    return shell;
}
