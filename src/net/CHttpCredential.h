// The user name and password an HTTP client answers Basic authentication
// with. The factory builds the kind-10 record (a device user); a proxy record
// (kind 20) exists only for the asynchronous client and is never filled.
#pragma once

#include <string>

class CHttpCredential {
public:
    // Kind of the record built by CreateHttpClient from a user and password.
    static constexpr int kKindServer = 10;
    // Kind of a proxy record.
    static constexpr int kKindProxy = 20;

    CHttpCredential() = default;
    CHttpCredential(int kind, int extra, std::string user, std::string password)
        : mKind(kind), mExtra(extra), mUser(std::move(user)), mPassword(std::move(password)) {}
    virtual ~CHttpCredential() = default;

    // Copies every field into `target`. A subclass with more fields copies
    // those it shares with the target's type.
    virtual void CopyTo(CHttpCredential& target) const {
        target.mKind = mKind;
        target.mExtra = mExtra;
        target.mUser = mUser;
        target.mPassword = mPassword;
    }

    int mKind = 0;
    int mExtra = 0;
    std::string mUser;
    std::string mPassword;
};
