#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

// A FeliCa card on a vpcd virtual reader (vsmartcard-vpcd under pcscd). The
// card is a TCP client of vpcd: connecting lays it on the reader, closing
// takes it away. It answers the ATR request and GET DATA (FF CA 00 00 00)
// with its IDm. While inserted it reconnects by itself when vpcd goes away,
// as a card left on a reader is found again after pcscd restarts.
class CVirtualFelicaCard {
public:
    using Bytes = std::vector<std::uint8_t>;
    // The first reader of the vpcd that Debian configures for the system's pcscd.
    static constexpr std::uint16_t kSystemVpcdPort = 35963;

    // The ATR a contactless reader gives a FeliCa card.
    static Bytes felicaAtr();

    struct Behaviour {
        Bytes atr = felicaAtr();
        Bytes idm;
        // When set, the answer to GET DATA instead of IDm + 90 00.
        Bytes getDataAnswer;
    };

    CVirtualFelicaCard(Behaviour behaviour, std::uint16_t port);
    ~CVirtualFelicaCard();
    CVirtualFelicaCard(const CVirtualFelicaCard&) = delete;
    CVirtualFelicaCard& operator=(const CVirtualFelicaCard&) = delete;

    // Lays the card on the reader; false when vpcd did not accept it in time.
    bool insert(std::chrono::milliseconds wait);
    void remove();

    bool isConnected() const { return m_connected; }
    unsigned atrRequests() const { return m_atrRequests; }
    unsigned getDataRequests() const { return m_getDataRequests; }
    unsigned connections() const { return m_connections; }

private:
    void run();
    // Serves one connection until vpcd closes it or the card is removed.
    void serve(int socket);
    Bytes answer(const Bytes& request);

    Behaviour m_behaviour;
    std::uint16_t m_port;
    std::thread m_thread;
    int m_stopEvent = -1; // eventfd that wakes the thread for remove()
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_connected{false};
    std::atomic<unsigned> m_atrRequests{0};
    std::atomic<unsigned> m_getDataRequests{0};
    std::atomic<unsigned> m_connections{0};
};
