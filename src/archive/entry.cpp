#include "archive/entry.h"

Entry root{1, {}, 0, 0, 0, 0, {}};
