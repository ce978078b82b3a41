#ifndef TICKORA_APP_PAGE_STYLE_H_
#define TICKORA_APP_PAGE_STYLE_H_

#include <QLabel>
#include <QString>

// A block of page text: plain (never read as markup), wrapped at the page's
// width, line breaks and leading blanks kept. The caller owns the label.
inline QLabel* MakePageText(const QString& text) {
  auto* label = new QLabel(text);
  label->setTextFormat(Qt::PlainText);
  label->setWordWrap(true);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  return label;
}

#endif  // TICKORA_APP_PAGE_STYLE_H_
