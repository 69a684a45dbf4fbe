/* A reader library for the binding's tests. Built twice: complete, and
 * without dispose_library (FAKE_FELICA_WITHOUT_DISPOSE). Every call goes on
 * to the test program (which exports these), so the test sees each call and
 * decides the answers; the library reports its own unloading too. */
#include "reader/felica.h"

int fake_felica_initialize_library(void);
int fake_felica_open_reader_writer_auto(void);
int fake_felica_polling(felica_polling* polling, unsigned char* number_of_cards,
                        felica_card_information* card_information);
int fake_felica_dispose_library(void);
void fake_felica_unloaded(void);

int initialize_library(void) {
    return fake_felica_initialize_library();
}

int open_reader_writer_auto(void) {
    return fake_felica_open_reader_writer_auto();
}

int polling_and_get_card_information(felica_polling* polling, unsigned char* number_of_cards,
                                     felica_card_information* card_information) {
    return fake_felica_polling(polling, number_of_cards, card_information);
}

#ifndef FAKE_FELICA_WITHOUT_DISPOSE
int dispose_library(void) {
    return fake_felica_dispose_library();
}
#endif

__attribute__((destructor)) static void reportUnload(void) {
    fake_felica_unloaded();
}
