#include "crossing/codetable.h"
