#pragma once

#include <QLoggingCategory>
#include <QtGlobal>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

// A fresh folder for fixture trees, removed with everything in it at the end of the test.
class FixtureDir {
public:
    FixtureDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "vorn-probes-XXXXXX");
        if (::mkdtemp(pattern.data()))
            m_root = pattern;
    }
    ~FixtureDir() {
        std::error_code ec;
        if (!m_root.empty())
            std::filesystem::remove_all(m_root, ec);
    }
    FixtureDir(const FixtureDir&) = delete;
    FixtureDir& operator=(const FixtureDir&) = delete;

    const std::filesystem::path& root() const { return m_root; }

    // Writes `content` (bytes, NULs included) to root/relative, creating the folders.
    void write(const std::filesystem::path& relative, std::string_view content) const {
        const std::filesystem::path file = m_root / relative;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary).write(content.data(), content.size());
    }
    // Creates root/relative as a symbolic link to `target` (which need not exist).
    void link(const std::filesystem::path& relative, const std::filesystem::path& target) const {
        const std::filesystem::path file = m_root / relative;
        std::filesystem::create_directories(file.parent_path());
        std::filesystem::create_symlink(target, file);
    }
    void mkdir(const std::filesystem::path& relative) const {
        std::filesystem::create_directories(m_root / relative);
    }

private:
    std::filesystem::path m_root;
};

// Collects the vorn.probes lines written while it lives (info level and above).
class ProbeLogCapture {
public:
    ProbeLogCapture() {
        lines().clear();
        QLoggingCategory::setFilterRules(QStringLiteral("vorn.probes.info=true"));
        m_previous = qInstallMessageHandler(&ProbeLogCapture::handle);
    }
    ~ProbeLogCapture() {
        qInstallMessageHandler(m_previous);
        QLoggingCategory::setFilterRules(QString());
    }
    ProbeLogCapture(const ProbeLogCapture&) = delete;
    ProbeLogCapture& operator=(const ProbeLogCapture&) = delete;

    static std::vector<std::string>& lines() {
        static std::vector<std::string> captured;
        return captured;
    }

private:
    static void handle(QtMsgType, const QMessageLogContext& context, const QString& message) {
        if (context.category && std::string_view(context.category) == "vorn.probes")
            lines().push_back(message.toStdString());
    }
    QtMessageHandler m_previous = nullptr;
};
