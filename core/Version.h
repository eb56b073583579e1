/* The product's version: the version blocks of both programs, and vr7 --version.
   Read by the resource compiler too, so only preprocessor lines. */
#ifndef QUILLANE_VERSION_H
#define QUILLANE_VERSION_H

#define QUILLANE_VERSION_NUMBERS 1, 0, 0, 1
#define QUILLANE_VERSION_STRING "1, 0, 0, 1"

#endif
