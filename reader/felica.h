/* The interface of a FeliCa reader library: four C functions, loaded at run
 * time by name. Every function returns non-zero on success and 0 on failure.
 * A fifth, card_change_descriptor, is optional: without it the terminal finds
 * cards by polling alone. The terminal ships two implementations
 * (lib/felica.so is the one it loads): a simulated reader driven by
 * poston-card, and a PC/SC reader. */
#ifndef POSTON_READER_FELICA_H
#define POSTON_READER_FELICA_H

#ifdef __cplusplus
extern "C" {
#endif

/* What to poll for. */
typedef struct felica_polling {
    unsigned char* system_code; /* 2 bytes; 0xFF 0xFF asks for any system */
    unsigned char time_slot;    /* 0: one time slot */
} felica_polling;

/* Where the library writes the card found; the caller owns both buffers. */
typedef struct felica_card_information {
    unsigned char* card_idm; /* 8 bytes: the card's manufacture ID (IDm) */
    unsigned char* card_pmm; /* 8 bytes: the card's manufacture parameter (PMm) */
} felica_card_information;

/* Once, right after the library is loaded. */
int initialize_library(void);
/* Once, after initialize_library: opens whichever reader is attached. */
int open_reader_writer_auto(void);
/* One poll: stores the number of cards found in *number_of_cards and, when
 * there is at least one, the first card's IDm and PMm in *card_information. */
int polling_and_get_card_information(felica_polling* polling, unsigned char* number_of_cards,
                                     felica_card_information* card_information);
/* Once, before the library is unloaded. */
int dispose_library(void);
/* Optional. A file descriptor, open from open_reader_writer_auto until
 * dispose_library, that becomes readable when the cards on the reader may have
 * changed; the caller reads it empty (it does not block) and then polls.
 * -1 when the library cannot tell. The caller never closes it. */
int card_change_descriptor(void);

typedef int (*felica_initialize_library_fn)(void);
typedef int (*felica_open_reader_writer_auto_fn)(void);
typedef int (*felica_polling_and_get_card_information_fn)(felica_polling*, unsigned char*,
                                                          felica_card_information*);
typedef int (*felica_dispose_library_fn)(void);
typedef int (*felica_card_change_descriptor_fn)(void);

#ifdef __cplusplus
}
#endif

#endif
