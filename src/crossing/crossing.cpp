#include "crossing/crossing.h"
