#pragma once

#include "KafkaErrorCode.h"

#include <QDateTime>
#include <QList>
#include <QMetaType>
#include <QString>

#include <cstdint>
#include <utility>

// A failure reported as a value: what failed, the text shown to the user, when
// it happened and the flat chain of errors that caused it, innermost first.
template <typename Code>
struct Error {
    Code code {};
    QString message;
    std::int64_t timestamp = 0;
    QList<Error> causes;

    Error() = default;
    Error(Code errorCode, QString errorMessage, QList<Error> errorCauses = {})
        : code(errorCode)
        , message(std::move(errorMessage))
        , timestamp(QDateTime::currentMSecsSinceEpoch())
        , causes(std::move(errorCauses))
    {
    }

    // Returns a new error with the given code and message whose causes are this
    // error's causes followed by this error itself. The causes move into the new
    // error, so wrapping a wrapped error still gives one flat list.
    Error wrap(Code outerCode, const QString& outerMessage)
    {
        QList<Error> chain = std::move(causes);
        causes = QList<Error>();
        chain.append(*this);
        return Error(outerCode, outerMessage, std::move(chain));
    }
};

using KafkaError = Error<KafkaErrorCode>;

Q_DECLARE_METATYPE(KafkaError)
