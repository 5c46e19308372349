#include "SeenText.h"

#include "TextSearch.h"

void SeenText::append(const QString &address) {
    m_text += u',';
    m_text += address;
}

bool SeenText::contains(const QString &address) const {
    return textPosition(m_text, address) > 0;
}
