<?xml version='1.0' encoding='utf-8'?>
<TS version="2.1" language="zh_CN">
<context>
    <name>Cli</name>
    <message>
        <location filename="../src/cli/Cli.cpp" line="33" />
        <source>Try 'velomi-tag --help' for more information.</source>
        <translation>请用“velomi-tag --help”查看用法。</translation>
    </message>
    <message>
        <location filename="../src/cli/Cli.cpp" line="122" />
        <source>no such file or folder</source>
        <translation>文件或文件夹不存在</translation>
    </message>
    <message>
        <location filename="../src/cli/Cli.cpp" line="136" />
        <source>the folder holds no MP3 or WMA files</source>
        <translation>文件夹里没有MP3或WMA文件</translation>
    </message>
    <message>
        <location filename="../src/cli/Cli.cpp" line="143" />
        <source>not an MP3 or WMA file</source>
        <translation>不是MP3或WMA文件</translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="48" />
        <source>the file is too short to be an MP3 file</source>
        <translation>文件太短，不是MP3文件</translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="52" />
        <location filename="../src/cli/Commands.cpp" line="75" />
        <source>Title</source>
        <translation>歌曲标题</translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="53" />
        <location filename="../src/cli/Commands.cpp" line="76" />
        <source>Artist</source>
        <translation>歌手</translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="54" />
        <location filename="../src/cli/Commands.cpp" line="77" />
        <source>Album</source>
        <translation>专辑</translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="55" />
        <location filename="../src/cli/Commands.cpp" line="78" />
        <source>Year</source>
        <translation>年份</translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="56" />
        <location filename="../src/cli/Commands.cpp" line="79" />
        <source>Comment</source>
        <translation>说明</translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="57" />
        <location filename="../src/cli/Commands.cpp" line="80" />
        <source>Track</source>
        <translation>音轨</translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="58" />
        <location filename="../src/cli/Commands.cpp" line="81" />
        <source>Genre</source>
        <translation>流派</translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="67" />
        <source>not a WMA file</source>
        <translation>不是WMA文件</translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="82" />
        <source>Copyright</source>
        <translation>版权</translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="83" />
        <source>URL</source>
        <translation>网址</translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="84" />
        <source>User URL</source>
        <translation>用户网址</translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="85" />
        <source>Lyrics</source>
        <translation>歌词</translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="86" />
        <source>Encoded by</source>
        <translation>编码者</translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="87" />
        <source>Version</source>
        <translation>版本</translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="93" />
        <source>Format</source>
        <translation>格式</translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="144" />
        <source>not done: the batch ended at an earlier error</source>
        <translation>未处理：批处理因前面的错误而中止</translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="145" />
        <source>not done: stopped</source>
        <translation>未处理：已中止</translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="151" />
        <source>velomi-tag: warning: the action could not be recorded and cannot be undone: %1</source>
        <translation>velomi-tag：警告：这次操作未能记入日志，无法撤销：%1</translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="208" />
        <source>not written: an MP3 tag has no field for %1 (WMA files only)</source>
        <translation>未写入：MP3标签没有 %1 这一项（仅用于WMA文件）</translation>
    </message>
    <message numerus="yes">
        <location filename="../src/cli/Commands.cpp" line="248" />
        <source>%n file(s) written.</source>
        <translation>
            <numerusform>已写入 %n 个文件。</numerusform></translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="283" />
        <source>would fail (%1 → %2): %3</source>
        <translation>将会失败（%1 → %2）：%3</translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="311" />
        <source>The journal holds no actions.</source>
        <translation>日志里没有操作。</translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="313" />
        <source>rename</source>
        <translation>改名</translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="314" />
        <source>batch edit</source>
        <translation>批量修改</translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="315" />
        <source>save</source>
        <translation>保存</translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="316" />
        <source>%1  %2, %3 of %4 file(s) changed</source>
        <translation>%1  %2，%4 个文件中改动了 %3 个</translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="320" />
        <source> (cut short)</source>
        <translation>（中途中断）</translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="328" />
        <source>velomi-tag: nothing to undo</source>
        <translation>velomi-tag：没有可撤销的操作</translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="342" />
        <source>restored: %1</source>
        <translation>已恢复：%1</translation>
    </message>
    <message numerus="yes">
        <location filename="../src/cli/Commands.cpp" line="346" />
        <source>Undid the action of %1: %n file(s) restored.</source>
        <translation>
            <numerusform>已撤销 %1 的操作：恢复了 %n 个文件。</numerusform></translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="21" />
        <source>Shows, sets and renames the tags of MP3 and WMA files, as the VelomiMP3 window does, and undoes the last change of either.

Commands:
  show [--json] PATH...        each file's tag
  set [FIELD OPTIONS] PATH...  writes the given fields (one action)
  rename --rule 1|2|3 [--dry-run] PATH...
                               renames files from their title and artist (one action)
  undo [--list]                undoes the last action, or lists the recent ones

A folder stands for its MP3 and WMA files. 'velomi-tag COMMAND --help' shows the options of a command.
Exit status: 0 when everything was done, 1 when some file failed, 2 for a usage error.</source>
        <translation>像 VelomiMP3 窗口那样显示、修改 MP3 和 WMA 文件的标签并按标签改名，也可撤销两者中任一方最后一次的改动。

命令：
  show [--json] 路径...          显示每个文件的标签
  set [信息选项] 路径...          写入给出的各项信息（一次操作）
  rename --rule 1|2|3 [--dry-run] 路径...
                               按歌曲标题和歌手给文件改名（一次操作）
  undo [--list]                撤销最后一次操作，或列出最近的操作

文件夹代表其中的 MP3 和 WMA 文件。“velomi-tag 命令 --help”显示一个命令的选项。
退出状态：全部完成为 0，有文件失败为 1，用法错误为 2。</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="46" />
        <location filename="../src/cli/main.cpp" line="47" />
        <location filename="../src/cli/main.cpp" line="48" />
        <location filename="../src/cli/main.cpp" line="50" />
        <location filename="../src/cli/main.cpp" line="54" />
        <location filename="../src/cli/main.cpp" line="55" />
        <location filename="../src/cli/main.cpp" line="56" />
        <location filename="../src/cli/main.cpp" line="57" />
        <location filename="../src/cli/main.cpp" line="58" />
        <location filename="../src/cli/main.cpp" line="59" />
        <source>TEXT</source>
        <translation>文字</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="46" />
        <source>the title</source>
        <translation>歌曲标题</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="47" />
        <source>the artist</source>
        <translation>歌手</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="48" />
        <source>the album</source>
        <translation>专辑</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="49" />
        <source>DIGITS</source>
        <translation>数字</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="49" />
        <source>the year (digits only)</source>
        <translation>年份（只能是数字）</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="50" />
        <source>the comment</source>
        <translation>说明</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="51" />
        <source>N</source>
        <translation>N</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="51" />
        <source>the track number, 0 to 255 (0: none)</source>
        <translation>音轨号，0 到 255（0 表示没有）</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="52" />
        <source>G</source>
        <translation>G</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="53" />
        <source>the genre, by name or by number 0 to 147; empty for none</source>
        <translation>流派，用名称或 0 到 147 的编号；空表示没有</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="54" />
        <source>the copyright (WMA only)</source>
        <translation>版权（仅WMA）</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="55" />
        <source>the web address (WMA only)</source>
        <translation>网址（仅WMA）</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="56" />
        <source>the user's web address (WMA only)</source>
        <translation>用户网址（仅WMA）</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="57" />
        <source>the lyrics (WMA only)</source>
        <translation>歌词（仅WMA）</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="58" />
        <source>who encoded the file (WMA only)</source>
        <translation>编码者（仅WMA）</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="59" />
        <source>the version text (WMA only)</source>
        <translation>版本（仅WMA）</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="96" />
        <source>the year may hold digits only: "%1"</source>
        <translation>年份只能是数字：“%1”</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="104" />
        <source>the track must be a number from 0 to 255: "%1"</source>
        <translation>音轨号必须是 0 到 255 的数字：“%1”</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="110" />
        <source>no such genre: "%1"</source>
        <translation>没有这个流派：“%1”</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="122" />
        <source>set: no field given</source>
        <translation>set：没有给出要写入的信息</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="156" />
        <source>print the version</source>
        <translation>显示版本</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="158" />
        <source>show, set, rename or undo</source>
        <translation>show、set、rename 或 undo</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="162" />
        <source>print one JSON document</source>
        <translation>输出一个JSON文档</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="169" />
        <source>1: artist - title, 2: title - artist, 3: artist - (number)title</source>
        <translation>1：歌手 - 歌曲标题，2：歌曲标题 - 歌手，3：歌手 - (序号)歌曲标题</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="171" />
        <source>print the plan and change nothing</source>
        <translation>只显示改名计划，不做任何改动</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="173" />
        <source>list the recent actions</source>
        <translation>列出最近的操作</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="176" />
        <source>files and folders</source>
        <translation>文件和文件夹</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="177" />
        <source>PATH...</source>
        <translation>路径...</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="189" />
        <source>no command given</source>
        <translation>没有给出命令</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="190" />
        <source>unknown command: %1</source>
        <translation>未知命令：%1</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="197" />
        <source>undo takes no paths</source>
        <translation>undo 不接受路径</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="200" />
        <source>%1: no path given</source>
        <translation>%1：没有给出路径</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="210" />
        <source>rename: --rule must be 1, 2 or 3</source>
        <translation>rename：--rule 必须是 1、2 或 3</translation>
    </message>
</context>
</TS>