#pragma once

namespace NVKTL {

// How one SMTP step, or a whole delivery, ended. The values are stored (the
// journal of given-up mails) and their texts shown in the mail error list, so
// neither may change; CSmtpClient::GetErrorMessage gives the text.
enum class SmtpResult : int {
    Ok = 0,                 // delivered, or the step went through
    NoConnection = -1,      // no connection (or no exchanger to try)
    SendFailed = -2,        // the connection broke while sending
    NoReply = -3,           // no complete reply in time
    NoGreeting = -4,        // the server greeted with something else than 220
    HelloRefused = -5,      // EHLO and HELO refused, or an announced name unfit for the wire
    CramMd5Refused = -6,    // AUTH CRAM-MD5 gave no challenge
    CramMd5Rejected = -7,   // the digest was not accepted
    LoginRefused = -8,      // AUTH LOGIN gave no prompt
    LoginNoUserPrompt = -9, // no longer given (the prompts are free text); kept for stored rows
    LoginUserRefused = -10, // the account was not taken
    LoginNoPasswordPrompt = -11, // no longer given, as -9
    LoginPasswordRejected = -12, // the password was not accepted
    PlainRejected = -13,         // AUTH PLAIN not accepted
    BadSender = -14,             // the sender's address refused or unfit for the wire
    BadRecipient = -15,          // a recipient's address refused, unfit, or without a domain
    DataRefused = -16,           // DATA refused, or a message that would end the data early
    MessageRefused = -17,        // the message was not accepted at its end
    ResetRefused = -18,          // RSET refused
    NoStartTls = -19,            // STARTTLS asked for but not offered
    StartTlsRefused = -20,       // the server refused STARTTLS
    TlsFailed = -21,             // the TLS handshake failed (no common protocol, no TLS at all)
    BadCertificate = -22,        // the server's certificate was not accepted
    TlsTimedOut = -23,           // the TLS handshake did not end in time
    NoMailDomain = -24,          // the mail route's: the recipient domain takes no mail
    TlsDropped = -25,            // the connection was closed or reset during the TLS handshake
};

} // namespace NVKTL
