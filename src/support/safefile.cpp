#include "support/safefile.h"
