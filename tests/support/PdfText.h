#pragma once
// The text of a PDF file as a reader selecting it would get it: pdftotext with the page's layout,
// so that a label and its value stay on one line.

#include <QString>

// Empty when the file is no PDF with text, or pdftotext cannot be run.
QString PdfText(const QString& fileName);
