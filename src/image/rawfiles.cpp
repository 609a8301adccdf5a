#include "image/rawfiles.h"
