#pragma once
// The record lives with the image types so that the image window can hold one.
#include "image/fileinfo.h"
