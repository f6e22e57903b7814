// SPDX-License-Identifier: MIT
#include "model/DesktopEntryEditor.h"

#include <gtest/gtest.h>

using namespace varno;

// Whatever the path, the Exec value names exactly that program again, and a path
// can never smuggle in a field code (%u, %f) or a second argument.
TEST(DesktopEntryEditor, ExecArgumentsRoundTripThroughTheQuoting) {
    const struct {
        const char* path;
        const char* exec;    // as written into the entry
        const char* tryExec; // a plain string value
    } cases[] = {
        {"/usr/bin/varno", "/usr/bin/varno", "/usr/bin/varno"},
        {"/home/a b/varno", "\"/home/a b/varno\"", "/home/a b/varno"},
        {"/opt/100%u/varno", "\"/opt/100%%u/varno\"", "/opt/100%u/varno"},
        {"/tmp/q\"uote/$HOME/`x`/varno", "\"/tmp/q\\\\\"uote/\\\\$HOME/\\\\`x\\\\`/varno\"",
         "/tmp/q\"uote/$HOME/`x`/varno"},
        {"/tmp/back\\slash/varno", "\"/tmp/back\\\\\\\\slash/varno\"", "/tmp/back\\\\slash/varno"},
        {"/tmp/line\nbreak/varno", "\"/tmp/line\\nbreak/varno\"", "/tmp/line\\nbreak/varno"},
        {"/home/zoë/Программы/varno", "/home/zoë/Программы/varno", "/home/zoë/Программы/varno"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const QString path = QString::fromUtf8(c.path);
        const QString exec = DesktopEntryEditor::execArgument(path);
        EXPECT_EQ(exec.toStdString(), c.exec);
        EXPECT_EQ(DesktopEntryEditor::execProgram(exec.toUtf8() + " %u").toStdString(), c.path);
        DesktopEntryEditor entry("[Desktop Entry]\nExec=varno %u\nTryExec=varno\n");
        entry.setExecutable(path, "%u");
        EXPECT_EQ(entry.value("Exec"), exec.toUtf8() + " %u");
        EXPECT_EQ(entry.value("TryExec"), QByteArray(c.tryExec));
    }
    EXPECT_EQ(DesktopEntryEditor::execProgram("varno %u"), QStringLiteral("varno"));
    EXPECT_EQ(DesktopEntryEditor::execProgram("\"/never/closed %u"), QString());
    EXPECT_EQ(DesktopEntryEditor::execProgram("  "), QString());
}

TEST(DesktopEntryEditor, EditsOnlyTheMainGroupsOwnKeys) {
    DesktopEntryEditor entry(
        "# comment\n[Desktop Entry]\nName=Varno\nName[de]=Varno DE\n"
        "NameOther=x\nExec=first\nExec = old %u\nMimeType=x-scheme-handler/varno;\n"
        "\n[Desktop Action Other]\nExec=leave-me %u\nMimeType=keep\n");
    EXPECT_EQ(entry.value("Exec"), QByteArray("old %u")) << "a repeated key's last value counts";
    EXPECT_EQ(entry.value("Name"), QByteArray("Varno")) << "not Name[de] or NameOther";
    EXPECT_FALSE(entry.value("Hidden"));

    entry.set("Exec", "/usr/bin/varno");
    entry.set("Hidden", "false");
    entry.remove("MimeType");
    EXPECT_EQ(entry.text(),
              QByteArray("# comment\n[Desktop Entry]\nHidden=false\nName=Varno\nName[de]=Varno DE\n"
                         "NameOther=x\nExec=/usr/bin/varno\n"
                         "\n[Desktop Action Other]\nExec=leave-me %u\nMimeType=keep\n"));

    DesktopEntryEditor bare("Name=Lost\n");
    bare.set("Exec", "varno");
    EXPECT_EQ(bare.text(), QByteArray("[Desktop Entry]\nExec=varno\nName=Lost\n"));
}
