#include "view/zoomgeometry.h"
