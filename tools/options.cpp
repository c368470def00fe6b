#include "options.h"

#include <climits>

namespace ronvix::tools {

namespace {

ParseResult Refuse(const QString& message) {
    return {std::nullopt, message};
}

}  // namespace

QString UsageText() {
    return QStringLiteral(
        "Usage:\n"
        "  ronvix-capture --list\n"
        "  ronvix-capture [--video DEVICE [--format F]] [--audio DEVICE [--audio-format F]]\n"
        "                 [--seconds N] --out FILE\n"
        "                 [--compression mjpeg|ffv1|uncompressed] [--split MB] [--unpaced]\n"
        "  ronvix-capture --play FILE --to DEVICE [--audio-out DEVICE]\n"
        "  ronvix-capture --repair FILE [--out FIXED]\n"
        "  ronvix-capture --help | --version\n"
        "\n"
        "Captures from capture devices into an AVI file, or plays an AVI file out to a\n"
        "video output device, without a window, on the same graphs as Ronvix.\n"
        "\n"
        "Options:\n"
        "  --list             print the devices of every category with their position\n"
        "                     and moniker display name, and under each capture device\n"
        "                     its formats, numbered as its list in Ronvix has them\n"
        "  --video DEVICE     the video capture device, by name or by position\n"
        "  --audio DEVICE     the audio capture device, by name or by position\n"
        "                     (at least one of --video and --audio to capture)\n"
        "  --format F         the video device's format: its number in --list, or\n"
        "                     WxH[@RATE][:FOURCC] (the first that matches, e.g.\n"
        "                     1280x720@30:MJPG; RATE 25, 29.97, 30, ...); without it\n"
        "                     the device keeps its current format\n"
        "  --audio-format F   the audio device's format: its number in --list, or\n"
        "                     RATE[:BITS[:CHANNELS]] (e.g. 44100:16:1)\n"
        "  --seconds N        capture for N seconds (a whole number, at least 1);\n"
        "                     without it the capture runs until SIGINT or SIGTERM\n"
        "  --out FILE         the AVI file to write (replaced when it exists)\n"
        "  --compression KIND how the video of a device that delivers raw YUV\n"
        "                     (YUY2, UYVY, NV12, I420) is kept: mjpeg (the default),\n"
        "                     ffv1 (lossless: every sample kept, commonly a third\n"
        "                     to two thirds of uncompressed) or uncompressed (the\n"
        "                     frames as they come: 1.2 GB a minute of 720x576\n"
        "                     YUY2 at 25 fps); a device that delivers MJPG is\n"
        "                     recorded as it comes whatever the choice\n"
        "  --split MB         begin a next file after MB mebibytes (a whole number,\n"
        "                     at least 2); a file system that refuses a larger file\n"
        "                     (FAT's 4 GiB) starts the next one too: FILE, then\n"
        "                     FILE's name with _002, _003, ... before its extension\n"
        "  --unpaced          the Test Pattern Camera delivers frames as fast as the\n"
        "                     capture path takes them (for measurements)\n"
        "  --play FILE        the AVI file to play out\n"
        "  --to DEVICE        the video output device to play to\n"
        "  --audio-out DEVICE the audio output device for the file's sound\n"
        "                     (default: the first audio renderer that accepts it)\n"
        "  --repair FILE      rebuild the sizes and indexes of an AVI file cut short\n"
        "                     (a crash, a power loss, a full disk); with --out the\n"
        "                     repaired copy goes there, else FILE is replaced when the\n"
        "                     repair holds at least what FILE's own indexes name\n"
        "  --help             print this text\n"
        "  --version          print the version\n"
        "\n"
        "A DEVICE is a name as --list prints it or a position (counted from 0) in\n"
        "its category. A capture prints each second the frames captured (in the file)\n"
        "and dropped (lost by the device, or left out to keep picture and sound in\n"
        "time), of those the frames left out, the empty places inserted (the frame\n"
        "before shows again) and the data rate (the kilobytes the file grew in that\n"
        "second: frames, sound and the file's own structure), then a summary whose\n"
        "bytes are the finished file's size; a play prints the frames sent each\n"
        "second and fails when it could send none of a file whose header counts\n"
        "frames.\n"
        "\n"
        "Exit status:\n"
        "  0  success\n"
        "  1  the graph could not be built, the engine stopped with an error, or a\n"
        "     play sent no frame of a file that has frames\n"
        "  2  bad arguments\n"
        "  3  a device that is not listed\n"
        "  4  a missing input file, or an output file that cannot be written\n");
}

ParseResult ParseOptions(const QStringList& arguments) {
    Options o;
    bool list = false, help = false, version = false;
    bool has_video = false, has_audio = false, has_out = false, has_play = false;
    bool has_to = false, has_audio_out = false, has_repair = false, has_compression = false;
    bool has_format = false, has_audio_format = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& arg = arguments[i];
        // An option that takes a value: the next argument, or "--opt=value".
        QString name = arg;
        std::optional<QString> inline_value;
        if (const qsizetype eq = arg.indexOf(QLatin1Char('='));
            arg.startsWith(QLatin1String("--")) && eq > 2) {
            name = arg.left(eq);
            inline_value = arg.mid(eq + 1);
        }
        auto value = [&](QString& into, bool& seen) -> std::optional<QString> {
            if (seen)
                return QStringLiteral("%1 given twice").arg(name);
            seen = true;
            if (inline_value) {
                into = *inline_value;
            } else {
                if (i + 1 >= arguments.size())
                    return QStringLiteral("%1 needs a value").arg(name);
                into = arguments[++i];
            }
            if (into.isEmpty())
                return QStringLiteral("%1 needs a value").arg(name);
            return std::nullopt;
        };
        auto flag = [&](bool& into) -> std::optional<QString> {
            if (inline_value)
                return QStringLiteral("%1 takes no value").arg(name);
            if (into)
                return QStringLiteral("%1 given twice").arg(name);
            into = true;
            return std::nullopt;
        };
        // A whole number of at least `least`, given once.
        auto whole = [&](std::optional<int>& into, int least) -> std::optional<QString> {
            QString text;
            bool seen = into.has_value();
            if (auto refused = value(text, seen))
                return refused;
            bool ok = false;
            const qlonglong n = text.toLongLong(&ok);
            if (!ok || n < least || n > INT_MAX)
                return QStringLiteral("%1 needs a whole number of at least %2, not \"%3\"")
                    .arg(name)
                    .arg(least)
                    .arg(text);
            into = static_cast<int>(n);
            return std::nullopt;
        };
        std::optional<QString> error;
        if (name == QLatin1String("--list")) {
            error = flag(list);
        } else if (name == QLatin1String("--help") || name == QLatin1String("-h")) {
            error = flag(help);
        } else if (name == QLatin1String("--version")) {
            error = flag(version);
        } else if (name == QLatin1String("--unpaced")) {
            error = flag(o.unpaced);
        } else if (name == QLatin1String("--video")) {
            error = value(o.video, has_video);
        } else if (name == QLatin1String("--audio")) {
            error = value(o.audio, has_audio);
        } else if (name == QLatin1String("--out")) {
            error = value(o.out, has_out);
        } else if (name == QLatin1String("--play")) {
            error = value(o.play, has_play);
        } else if (name == QLatin1String("--repair")) {
            error = value(o.repair, has_repair);
        } else if (name == QLatin1String("--to")) {
            error = value(o.to, has_to);
        } else if (name == QLatin1String("--audio-out")) {
            error = value(o.audio_out, has_audio_out);
        } else if (name == QLatin1String("--format")) {
            error = value(o.video_format, has_format);
        } else if (name == QLatin1String("--audio-format")) {
            error = value(o.audio_format, has_audio_format);
        } else if (name == QLatin1String("--compression")) {
            QString text;
            error = value(text, has_compression);
            o.compression_given = true;
            if (!error) {
                const QString kind = text.toLower();
                if (kind == QLatin1String("mjpeg"))
                    o.compression = VideoCompression::Mjpeg;
                else if (kind == QLatin1String("ffv1"))
                    o.compression = VideoCompression::Ffv1;
                else if (kind == QLatin1String("uncompressed"))
                    o.compression = VideoCompression::Uncompressed;
                else
                    error = QStringLiteral(
                                "--compression needs mjpeg, ffv1 or uncompressed, not \"%1\"")
                                .arg(text);
            }
        } else if (name == QLatin1String("--seconds")) {
            error = whole(o.seconds, 1);
        } else if (name == QLatin1String("--split")) {
            error = whole(o.split_mb, 2);
        } else {
            error = arg.startsWith(QLatin1Char('-'))
                        ? QStringLiteral("unknown option %1").arg(arg)
                        : QStringLiteral("unexpected argument \"%1\"").arg(arg);
        }
        if (error)
            return Refuse(*error);
    }

    const bool capture = has_video || has_audio || (has_out && !has_repair) || o.seconds ||
                         o.unpaced || has_compression || o.split_mb || has_format ||
                         has_audio_format;
    const bool play = has_play || has_to || has_audio_out;
    const int commands = int(list) + int(capture) + int(play) + int(has_repair);
    if (help || version) {
        if (commands > 0 || (help && version))
            return Refuse(QStringLiteral("--help and --version take no other option"));
        o.command = help ? Command::Help : Command::Version;
        return {o, {}};
    }
    if (commands == 0)
        return Refuse(QStringLiteral("nothing to do: give --list, a capture, --play or --repair"));
    if (commands > 1)
        return Refuse(
            QStringLiteral("--list, capture options, --play and --repair do not go together"));
    if (has_repair) {
        o.command = Command::Repair;
        return {o, {}};
    }
    if (list) {
        o.command = Command::List;
        return {o, {}};
    }
    if (capture) {
        if (!has_video && !has_audio)
            return Refuse(QStringLiteral("a capture needs --video or --audio"));
        if (!has_out)
            return Refuse(QStringLiteral("a capture needs --out FILE"));
        if (o.unpaced && !has_video)
            return Refuse(QStringLiteral("--unpaced needs --video"));
        if (has_format && !has_video)
            return Refuse(QStringLiteral("--format needs --video"));
        if (has_audio_format && !has_audio)
            return Refuse(QStringLiteral("--audio-format needs --audio"));
        if (has_compression && !has_video)
            return Refuse(QStringLiteral("--compression needs --video"));
        o.command = Command::Capture;
        return {o, {}};
    }
    if (!has_play)
        return Refuse(QStringLiteral("--to and --audio-out need --play FILE"));
    if (!has_to)
        return Refuse(QStringLiteral("--play needs --to DEVICE"));
    o.command = Command::Play;
    return {o, {}};
}

}  // namespace ronvix::tools
