/* The resampler of Debian's libstb-dev, compiled once for the icon sizes made from a PNG picture. */
#define STB_IMAGE_RESIZE_IMPLEMENTATION
#include <stb/stb_image_resize.h>
