#pragma once

#include <QDir>
#include <QString>

// The folder of the real Jet files used by the tests. The build points at it beside the source
// tree; a checkout kept elsewhere names it in the environment variable TARJETAS_TESTDATA_DIR.
inline QString testDataFile(const char* name) {
    QString dir = QStringLiteral(TARJETAS_TESTDATA_DIR);
    if (!QDir(dir).exists() && qEnvironmentVariableIsSet("TARJETAS_TESTDATA_DIR"))
        dir = qEnvironmentVariable("TARJETAS_TESTDATA_DIR");
    return QDir(dir).filePath(QString::fromUtf8(name));
}
