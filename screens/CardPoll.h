#pragma once

#include "nvktl/CMapStringToString.h"

// One poll of the card reader as the program sees it: a card with its ID (16
// upper-case hex digits), no single card on the reader, or a reader that is
// not open. The reader's own texts for the last two stay at the reader.
struct CardPoll {
    enum class State { Card, NoCard, ReaderError };

    State state = State::NoCard;
    CString id;

    static CardPoll card(const CString& id) { return {State::Card, id}; }
    static CardPoll noCard() { return {State::NoCard, CString()}; }
    static CardPoll readerError() { return {State::ReaderError, CString()}; }

    bool hasCard() const { return state == State::Card; }
    // The card's ID, or the text shown for no card or for the reader error.
    CString textOr(const char* noCard, const char* readerError) const {
        if (state == State::Card)
            return id;
        return CString(state == State::NoCard ? noCard : readerError);
    }
};
