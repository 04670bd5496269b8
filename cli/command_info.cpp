// kestrel-cli info IMAGE: what the window shows of an image when it is opened.

#include <string>

#include "commands.h"
#include "protocol/exit_codes.h"
#include "image/download_type.h"
#include "image/image_file.h"

namespace kestrel {

int RunInfoCommand(CCliOutput& out, const CliArgs& args)
{
    if (args.size() != 1) {
        out.Error("usage: kestrel-cli info IMAGE");
        return kExitUsage;
    }
    CImageFile image;
    int nType = DLOAD_NORMAL;
    if (!image.Load(args[0], nType)) {
        out.Error(image.LastError());
        return kExitFileError;
    }
    out.Object(CJsonObject()
                   .Add("event", "info")
                   .Add("path", image.Path())
                   .Add("size", image.Size())
                   .Add("version", image.VersionNumber())
                   .Add("build_date_code", image.BuildDateCode())
                   .Add("version_text", image.VersionText())
                   .Add("boot", image.IsBootImage()));
    out.Text("Path: " + image.Path());
    out.Text("Size: " + std::to_string(image.Size()) + " byte");
    out.Text("Version: " + image.VersionText());
    out.Text("Build date code: " + image.BuildDateCode());
    out.Text(image.IsBootImage() ? "Image: boot image" : "Image: font image (no boot marker)");
    return kExitOk;
}

}  // namespace kestrel
