#include "SimTestObject.h"

#include <QStringList>

#include <cmath>

namespace {

bool toFinite(const QString &text, double *value)
{
    bool ok = false;
    *value = text.trimmed().toDouble(&ok);
    return ok && std::isfinite(*value);
}

} // namespace

bool SimTestObject::parseSites(const QString &text, QString *error)
{
    QVector<SimPdSite> parsed;
    for (const QString &entry : text.split(QLatin1Char(','))) {
        const QStringList parts = entry.split(QLatin1Char(':'));
        SimPdSite site;
        double inceptionKv = 0.0;
        if (parts.size() < 2 || parts.size() > 3 || !toFinite(parts.at(0), &site.positionMetres)
            || !toFinite(parts.at(1), &site.chargeNc) || (parts.size() == 3 && !toFinite(parts.at(2), &inceptionKv))) {
            *error = QStringLiteral("--pd-site %1: expected METRES:CHARGE_NC[:INCEPTION_KV]").arg(entry);
            return false;
        }
        if (site.positionMetres < 0 || site.positionMetres > cableLengthMetres) {
            *error = QStringLiteral("--pd-site %1: the site must lie on the cable, 0 to %2 m").arg(entry).arg(cableLengthMetres);
            return false;
        }
        if (!(std::fabs(site.chargeNc) > 0 && std::fabs(site.chargeNc) <= 1000) || inceptionKv < 0) {
            *error = QStringLiteral("--pd-site %1: charge 0 to 1000 nC (not 0), inception at least 0 kV").arg(entry);
            return false;
        }
        site.inceptionVolts = inceptionKv * 1000.0;
        parsed.append(site);
    }
    sites = parsed;
    return true;
}

bool SimTestObject::parseVoltageSteps(const QString &text, QString *error)
{
    QVector<double> parsed;
    for (const QString &entry : text.split(QLatin1Char(','))) {
        double kv = 0;
        if (!toFinite(entry, &kv) || kv <= 0 || kv > 1000) {
            *error = QStringLiteral("--voltage-steps %1: expected kV above 0 and at most 1000").arg(entry);
            return false;
        }
        parsed.append(kv * 1000.0);
    }
    voltageStepsVolts = parsed;
    return true;
}
