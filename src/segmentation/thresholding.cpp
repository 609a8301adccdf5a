#include "segmentation/thresholding.h"
