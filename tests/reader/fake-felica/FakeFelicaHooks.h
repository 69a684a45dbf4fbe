#pragma once

#include "reader/felica.h"

// The fake reader library forwards every call to these functions, which the
// test program defines, so the test sees each call and its arguments and
// decides the answers; the library reports its own unloading too.
#ifdef __cplusplus
extern "C" {
#endif
int fake_felica_initialize_library(void);
int fake_felica_open_reader_writer_auto(void);
int fake_felica_polling(felica_polling* polling, unsigned char* number_of_cards,
                        felica_card_information* card_information);
int fake_felica_dispose_library(void);
void fake_felica_unloaded(void);
#ifdef __cplusplus
}
#endif
