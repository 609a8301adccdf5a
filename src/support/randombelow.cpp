#include "support/randombelow.h"
