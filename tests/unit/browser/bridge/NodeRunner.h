#pragma once

// Runs scripts under node, the JavaScript engine the escaping and page-script tests check
// against. A machine without node fails these tests with a clear message rather than skipping:
// the round trips are the only proof that answers reach the page intact.

#include <QByteArray>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

namespace vorntest {

inline QString NodeExecutable() {
    const QByteArray fromEnv = qgetenv("VORN_NODE");
    if (!fromEnv.isEmpty())
        return QString::fromLocal8Bit(fromEnv);
    QString node = QStandardPaths::findExecutable("node");
    if (node.isEmpty())
        node = QStandardPaths::findExecutable("nodejs");
    return node;
}

// The checkout, as CTest passes it; empty when the test runs outside CTest.
inline QString SourceDir() {
    return qEnvironmentVariable("VORN_SOURCE_DIR");
}

struct NodeResult {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// Runs node with the arguments, feeding `input` on standard input.
inline NodeResult RunNode(const QStringList& arguments, const QByteArray& input = {}) {
    NodeResult result;
    const QString node = NodeExecutable();
    if (node.isEmpty()) {
        ADD_FAILURE() << "node (Debian package nodejs) is needed to check the page bridge in a "
                         "real JavaScript engine; install it or set VORN_NODE.";
        return result;
    }
    QProcess process;
    process.start(node, arguments);
    if (!process.waitForStarted(10000)) {
        ADD_FAILURE() << "cannot start " << node.toStdString();
        return result;
    }
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        ADD_FAILURE() << "node did not finish within a minute";
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

}  // namespace vorntest
