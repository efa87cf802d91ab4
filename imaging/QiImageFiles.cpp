// Image file writers of QiImage; the codecs fill these in.
#include "QiImage.h"

bool QiImage::savePng(const char *) { return false; }
bool QiImage::saveJpeg(const char *, int) { return false; }
bool QiImage::saveOvi(const char *) { return false; }
