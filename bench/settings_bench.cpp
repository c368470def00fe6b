// A save of the main window's settings into a large ZELK.ini and the show
// that follows, beside a plain copy of that file with the same fsyncs, in
// one run, round after round.
//
// The file is 8 MiB: the main window's section (the keys the program
// writes) between 4 MiB of other sections on either side. Per round:
// - copy: read the file, write it to a new file in the same folder, fsync
//   it, rename it into place, fsync the folder (what a save does to disk);
// - save: change three of the window's values and run its storage's save
//   (SaveFormState: every key, one edit of the file). As in the program, the
//   save follows a show in the same process, whose parsed text the profile
//   service still holds and checks against the file under its lock;
// - show: drop the texts the profile service keeps from earlier reads (as
//   at a new start), then run a fresh window's restore (RestoreFormState)
//   and the two reads of the format indices its show handler makes;
// - cold save: the same save after dropping the kept texts, so that it
//   reads and parses the whole file itself (reported beside the others).
// The window is a form with the main window's ten stored controls, of the
// same classes and names (the real main window's show also builds media
// graphs, which would bury the settings' share).
//
//   ronvix_bench_settings [FOLDER] [ROUNDS]
//
// FOLDER defaults to a new folder under /var/tmp (the disk, not a tmpfs).
// Prints the median and best of each side and the ratio of the medians;
// the target is (save + show) / copy <= 2.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "controls/filenameedit.h"
#include "framework/form.h"
#include "platform/win/profile.h"
#include "settings/formstorage.h"

namespace {

using Clock = std::chrono::steady_clock;
using ronvix::fw::TForm;
using ronvix::settings::TFormStorage;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

void Die(const char* what) {
    std::perror(what);
    std::exit(1);
}

// The benchmark's folder as an absolute path (the profile service ignores a
// relative XDG_CONFIG_HOME): the one named, or a new one under /var/tmp.
std::string Folder(int argc, char** argv) {
    std::string folder;
    if (argc > 1 && argv[1][0] != '\0') {
        folder = argv[1];
        if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
            Die("mkdir");
    } else {
        char name[] = "/var/tmp/ronvix-settings-bench-XXXXXX";
        if (!mkdtemp(name))
            Die("mkdtemp");
        folder = name;
    }
    char* real = realpath(folder.c_str(), nullptr);
    if (!real)
        Die("realpath");
    folder = real;
    std::free(real);
    return folder;
}

// Other programs' sections: keys of typical length.
std::string Filler(int first, size_t bytes) {
    std::string text;
    for (int s = first; text.size() < bytes; ++s) {
        text += "[Plugin" + std::to_string(s) + "]\n";
        text += "Name=Capture helper " + std::to_string(s) + "\n";
        text += "Path=c:\\Program Files\\Helpers\\helper" + std::to_string(s) + ".dll\n";
        for (int k = 0; k < 6; ++k)
            text += "Option" + std::to_string(k) + "=" + std::to_string(s * 7 + k) + "\n";
    }
    return text;
}

std::string MainSection() {
    return "[TMainForm]\nFormVersion=0\nFlags=0\nShowCmd=1\nPixelsPerInch=96\n"
           "MinMaxPos(800x600)=-1,-1,-1,-1\nMinMaxPos=-1,-1,-1,-1\n"
           "NormPos(800x600)=50,40,750,585\nNormPos=50,40,750,585\nVisible=0\n"
           "AudioCapFilters_ItemIndex=1\nVideoCapFilters_ItemIndex=2\n"
           "savedialog_FileName=c:\\capture.avi\nVideoFormats_ItemIndex=3\n"
           "AudioFormats_ItemIndex=2\nAudioDestFilters_ItemIndex=0\n"
           "VideoOutFilters_ItemIndex=0\nOverCheck_Checked=False\nSourceFilename_Text=\n"
           "ComboBox1_ItemIndex=1\n";
}

void WriteFile(const std::string& path, const std::string& text) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()) ||
        fsync(fd) != 0 || close(fd) != 0)
        Die("write");
}

// Read whole, write to a new file, fsync, rename into place, fsync folder.
void PlainCopy(const std::string& from, const std::string& folder) {
    const int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (in < 0 || fstat(in, &st) != 0)
        Die("open");
    std::string text(static_cast<size_t>(st.st_size), '\0');
    if (read(in, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
        Die("read");
    close(in);
    const std::string temp = folder + "/.copy.tmp";
    WriteFile(temp, text);
    if (rename(temp.c_str(), (folder + "/copy.ini").c_str()) != 0)
        Die("rename");
    const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    fsync(dir);
    close(dir);
}

// A form with the main window's stored controls and its storage.
struct Window {
    TForm form;
    QComboBox* combos[7] = {};
    ronvix::controls::TFilenameEdit* savedialog = nullptr;
    ronvix::controls::TFilenameEdit* source = nullptr;
    QCheckBox* over = nullptr;
    TFormStorage* storage = nullptr;

    Window() {
        const char* names[] = {"AudioCapFilters", "VideoCapFilters",  "VideoFormats",
                               "AudioFormats",    "AudioDestFilters", "VideoOutFilters",
                               "ComboBox1"};
        for (int i = 0; i < 7; ++i) {
            combos[i] = new QComboBox(&form);
            combos[i]->setObjectName(QString::fromLatin1(names[i]));
            for (int item = 0; item < 5; ++item)
                combos[i]->addItem(QString::number(item));
        }
        savedialog = new ronvix::controls::TFilenameEdit(&form);
        savedialog->setObjectName(QStringLiteral("savedialog"));
        source = new ronvix::controls::TFilenameEdit(&form);
        source->setObjectName(QStringLiteral("SourceFilename"));
        over = new QCheckBox(&form);
        over->setObjectName(QStringLiteral("OverCheck"));
        form.setFixedSize(700, 545);
        storage = new TFormStorage(&form, QStringLiteral("FormStorage1"));
        storage->SetIniFileName(QStringLiteral("ZELK.ini"));
        storage->SetIniSection(QStringLiteral("TMainForm"));
        storage->SetStoredProps({"AudioCapFilters.ItemIndex", "VideoCapFilters.ItemIndex",
                                 "savedialog.FileName", "VideoFormats.ItemIndex",
                                 "AudioFormats.ItemIndex", "AudioDestFilters.ItemIndex",
                                 "VideoOutFilters.ItemIndex", "OverCheck.Checked",
                                 "SourceFilename.Text", "ComboBox1.ItemIndex"});
        storage->Loaded();
    }
};

struct Series {
    std::vector<double> ms;
    double Median() {
        std::sort(ms.begin(), ms.end());
        return ms[ms.size() / 2];
    }
    double Best() { return *std::min_element(ms.begin(), ms.end()); }
};

}  // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const std::string folder = Folder(argc, argv);
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 15;
    setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
    QApplication app(argc, argv);

    const std::string settings_folder = folder + "/ronvix";
    mkdir(settings_folder.c_str(), 0700);
    const std::string ini = settings_folder + "/ZELK.ini";
    if (ronvix::win::ProfilePath("ZELK.ini") != ini) {
        std::fprintf(stderr, "the settings file would not be %s\n", ini.c_str());
        return 1;
    }
    const std::string text = Filler(0, 4 << 20) + MainSection() + Filler(1000000, 4 << 20);
    WriteFile(ini, text.substr(0, 8 << 20));
    std::printf("file: %s, %zu bytes\n", ini.c_str(), size_t{8} << 20);

    Window saver;
    saver.storage->RestoreFormState();
    Series copy, save, show, cold;
    for (int round = 0; round < rounds; ++round) {
        auto t = Clock::now();
        PlainCopy(ini, settings_folder);
        copy.ms.push_back(Ms(Clock::now() - t));

        saver.combos[2]->setCurrentIndex(round % 5);  // VideoFormats
        saver.combos[6]->setCurrentIndex(round % 4);  // ComboBox1
        saver.form.move(40 + round, 30);
        t = Clock::now();
        saver.storage->SaveFormState();
        save.ms.push_back(Ms(Clock::now() - t));

        ronvix::win::WritePrivateProfileStringA(nullptr, nullptr, nullptr, nullptr);
        Window shown;
        t = Clock::now();
        shown.storage->RestoreFormState();
        shown.storage->ReadIntValue(QStringLiteral("videoformats_itemindex"), -1);
        shown.storage->ReadIntValue(QStringLiteral("audioformats_itemindex"), -1);
        show.ms.push_back(Ms(Clock::now() - t));
        if (shown.combos[6]->currentIndex() != round % 4) {
            std::fprintf(stderr, "the show did not read what the save wrote\n");
            return 1;
        }

        ronvix::win::WritePrivateProfileStringA(nullptr, nullptr, nullptr, nullptr);
        saver.combos[2]->setCurrentIndex((round + 1) % 5);
        saver.form.move(40 + round, 31);
        t = Clock::now();
        saver.storage->SaveFormState();
        cold.ms.push_back(Ms(Clock::now() - t));
    }
    const double c = copy.Median(), s = save.Median(), h = show.Median(), k = cold.Median();
    std::printf("rounds: %d\n", rounds);
    std::printf("plain copy with fsyncs: median %.1f ms, best %.1f ms\n", c, copy.Best());
    std::printf("save of the main window: median %.1f ms, best %.1f ms\n", s, save.Best());
    std::printf("following show (restore): median %.1f ms, best %.1f ms\n", h, show.Best());
    std::printf("cold save (nothing kept): median %.1f ms, best %.1f ms\n", k, cold.Best());
    std::printf("(save + show) / copy: %.2f (target <= 2); with the cold save: %.2f\n", (s + h) / c,
                (k + h) / c);
    if (argc <= 1 || argv[1][0] == '\0') {
        unlink(ini.c_str());
        unlink((settings_folder + "/copy.ini").c_str());
        rmdir(settings_folder.c_str());
        rmdir(folder.c_str());
    }
    return 0;
}
