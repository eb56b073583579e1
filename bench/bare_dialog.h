// The benchmark's reference: a bare dialog program on the same framework, with one filled
// combo box, so that its start-up can be set beside the setup assistant's.
#ifndef QUILLANE_BENCH_BARE_DIALOG_H
#define QUILLANE_BENCH_BARE_DIALOG_H

#define BARE_CAPTION "Bare dialog"
#define BARE_DIALOG 100
#define BARE_COMBO 1000

#endif
