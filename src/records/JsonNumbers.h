#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <vector>

// The numbers of a JSON document, each kept as it is written. Jansson holds a
// number as a double or a 64-bit integer, so a parsed and written document
// says 1.1 for 1.10, 100.0 for 1e2 and another number for
// 12345678901234567.89, and one with 1.0e400 in it is refused. The pretty
// printer therefore hands Jansson a copy of the document in which every
// number is replaced by its index among the numbers (the first is 0), and puts
// the texts back into what Jansson writes of it: there, every number outside
// a string is such an index.
//
// The numbers are found as Jansson's reader finds them, strings skipped, so
// the copy holds the same tokens with each number swapped for another number,
// followed by the same character (Jansson skips a NUL byte right after a
// number): Jansson refuses the copy exactly when it refuses the document, but
// for numbers out of its range. Where that reader refuses a number (a leading
// zero, a point or an exponent without digits), or a number runs into a point,
// an exponent letter or a minus (which would run on from its index: "1.5.3"
// must not become "0.1"), the rest is copied as it stands, and the copy is
// refused there too.
//
// A pure value: callable from any thread.
class JsonNumbers {
public:
    // Finds the numbers of `json`, which must outlive this object.
    explicit JsonNumbers(QByteArrayView json);

    // The copy for Jansson to parse; `json` itself when it holds no number.
    QByteArrayView indexed() const;

    // `written`, what Jansson wrote of the parsed copy, with each index
    // replaced by the text of its number.
    QByteArray withNumbersInPlace(QByteArrayView written) const;

    bool isEmpty() const { return m_texts.empty(); }

private:
    QByteArrayView m_json;
    QByteArray m_indexed;
    std::vector<QByteArrayView> m_texts;
    qsizetype m_textBytes = 0;
};
