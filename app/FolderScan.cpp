#include "app/FolderScan.h"

#include "app/Formats.h"

#include <QCollator>
#include <QLocale>
#include <QString>

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <set>
#include <utility>
#include <vector>

namespace zumo {
namespace {

// Deeper folders than this are not walked (a loop the link test misses,
// such as one through a file system mounted within itself, still ends).
constexpr int kMaxDepth = 64;

struct Entry {
    std::string name;
    bool folder;
    QCollatorSortKey key;
};

// The user's language; where that is the plain C locale, which sorts by
// character codes alone (and knows no numbers), the common order of
// Unicode, as English uses it.
QLocale SortingLocale() {
    const QLocale system = QLocale::system();
    return system.language() == QLocale::C ? QLocale(QLocale::English) : system;
}

class Walk {
public:
    explicit Walk(const std::function<bool(const std::string&)>& found) : found(found), collator(SortingLocale()) {
        collator.setNumericMode(true);
        collator.setCaseSensitivity(Qt::CaseInsensitive);
    }

    // False once `found` asked to stop.
    bool Folder(const std::string& path, int depth) {
        struct stat info {};
        if (depth > kMaxDepth || stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return true;
        if (!visited.insert({info.st_dev, info.st_ino}).second) return true;
        const std::string prefix = path.empty() || path.back() == '/' ? path : path + '/';
        std::vector<Entry> entries = Read(prefix);
        std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
            const int order = a.key.compare(b.key);
            return order != 0 ? order < 0 : a.name < b.name;
        });
        for (const Entry& entry : entries) {
            const std::string child = prefix + entry.name;
            if (!(entry.folder ? Folder(child, depth + 1) : found(child))) return false;
        }
        return true;
    }

private:
    std::vector<Entry> Read(const std::string& prefix) {
        std::vector<Entry> entries;
        DIR* dir = opendir(prefix.c_str());
        if (!dir) return entries;
        while (const dirent* item = readdir(dir)) {
            const std::string name = item->d_name;
            if (name.empty() || name[0] == '.') continue;
            bool folder = item->d_type == DT_DIR;
            bool file = item->d_type == DT_REG;
            if (item->d_type == DT_LNK || item->d_type == DT_UNKNOWN) {
                struct stat info {};
                if (stat((prefix + name).c_str(), &info) != 0) continue;
                folder = S_ISDIR(info.st_mode);
                file = S_ISREG(info.st_mode);
            }
            if (folder || (file && HasMp3Extension(name)))
                entries.push_back({name, folder, collator.sortKey(QString::fromUtf8(name))});
        }
        closedir(dir);
        return entries;
    }

    const std::function<bool(const std::string&)>& found;
    QCollator collator;
    std::set<std::pair<dev_t, ino_t>> visited;
};

} // namespace

void ScanFolder(const std::string& folder, const std::function<bool(const std::string& file)>& found) {
    Walk walk(found);
    walk.Folder(folder, 0);
}

} // namespace zumo
