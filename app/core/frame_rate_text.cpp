#include "app/core/app_core.h"

#include <cmath>

namespace qm::app {

QString FrameRateText(double frameRate) {
    if (!std::isfinite(frameRate)) return QStringLiteral("0");
    // Header rates are multiples of 1/256 and need at most eight decimals; a few more keep any
    // other binary fraction exact enough without ever printing an exponent.
    QString text = QString::number(frameRate, 'f', 12);  // "." whatever the C locale says
    while (text.endsWith(QLatin1Char('0'))) text.chop(1);
    if (text.endsWith(QLatin1Char('.'))) text.chop(1);
    if (text == QLatin1String("-0")) text = QStringLiteral("0");
    return UseLocaleDecimal(text);
}

}  // namespace qm::app
