#pragma once

#include <QByteArray>
#include <QByteArrayView>

// The \u0000 escapes in the strings of a JSON document. Jansson holds a NUL
// in a string value but refuses one in an object key, so the pretty printer
// hands Jansson a copy in which every \u0000 inside a string stands as one
// private-use character that the document holds nowhere, neither as itself
// nor as an escape, and writes \u0000 again wherever Jansson's output holds
// that character. Keys equal in the document stay equal in the copy, and none
// becomes equal to another key, so a repeated key still replaces the earlier
// one and no other key does.
//
// When the document holds every private-use character there is none to
// stand in: nothing is replaced, and Jansson refuses a NUL in a key as before.
//
// A pure value: callable from any thread.
class JsonNuls {
public:
    // Finds the escapes of `json`, which must outlive this object.
    explicit JsonNuls(QByteArrayView json);

    // The copy for Jansson to parse; `json` itself when nothing stands in.
    QByteArrayView replaced() const;

    // `written`, what Jansson wrote of the parsed copy, with \u0000 in place
    // of each stand-in character; `written` itself when nothing stands in.
    QByteArray withNulsInPlace(QByteArrayView written) const;

    bool isEmpty() const { return m_standIn.isEmpty(); }

private:
    QByteArrayView m_json;
    QByteArray m_replaced;
    // The stand-in character in UTF-8; empty when nothing stands in.
    QByteArray m_standIn;
};
