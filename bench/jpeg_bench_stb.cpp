// stb_image compiled once for the JPEG benchmark (a peer measured against, never in the product),
// without our warning flags: it is not our code.
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_JPEG
#include <stb/stb_image.h>
