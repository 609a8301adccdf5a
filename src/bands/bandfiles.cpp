#include "bands/bandfiles.h"
