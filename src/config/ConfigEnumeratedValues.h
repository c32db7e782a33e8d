#pragma once

#include "Config.h"
#include "EnumeratedValue.h"

#include <cstddef>

// The texts of the configuration's enumerations in a configuration file, in
// value order. The reader matches them without regard to case; the writer
// writes them as listed.

inline constexpr EnumeratedValue<Config::ContentType> contentTypeValues[] = {
    { Config::ContentType::Text, "Text" },
    { Config::ContentType::Json, "Json" },
    { Config::ContentType::Xml, "Xml" },
    { Config::ContentType::Binary, "Binary" },
    { Config::ContentType::Protobuf, "Protobuf" },
};

inline constexpr EnumeratedValue<Config::SaslMechanism> saslMechanismValues[] = {
    { Config::SaslMechanism::Plain, "PLAIN" },
    { Config::SaslMechanism::ScramSha256, "SCRAM_SHA_256" },
    { Config::SaslMechanism::ScramSha512, "SCRAM_SHA_512" },
};

inline constexpr EnumeratedValue<Config::Authentication> authenticationValues[] = {
    { Config::Authentication::None, "None" },
    { Config::Authentication::Sasl, "SASL" },
};

inline constexpr EnumeratedValue<Config::SslCertificateValidation> sslCertificateValidationValues[] = {
    { Config::SslCertificateValidation::None, "None" },
    { Config::SslCertificateValidation::Full, "Full" },
};

inline constexpr EnumeratedValue<Config::Protocol> protocolValues[] = {
    { Config::Protocol::Plaintext, "Plaintext" },
    { Config::Protocol::Ssl, "Ssl" },
};

// The number of rows of a table, as the enumeration readers take it.
template <typename T, std::size_t N>
constexpr int rowCount(const EnumeratedValue<T> (&)[N])
{
    return static_cast<int>(N);
}

// The text of a value in its table; empty for a value the table does not hold.
template <typename T, std::size_t N>
constexpr const char* enumeratedValueName(const EnumeratedValue<T> (&table)[N], T value)
{
    for (const EnumeratedValue<T>& row : table) {
        if (row.value == value)
            return row.name;
    }
    return "";
}
