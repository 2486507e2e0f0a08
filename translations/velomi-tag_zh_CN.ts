<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>Cli</name>
    <message>
        <location filename="../src/cli/Cli.cpp" line="38"/>
        <source>Try &apos;velomi-tag --help&apos; for more information.</source>
        <translation>请用“velomi-tag --help”查看用法。</translation>
    </message>
    <message>
        <location filename="../src/cli/Cli.cpp" line="227"/>
        <location filename="../src/cli/Commands.cpp" line="742"/>
        <source>no such file or folder</source>
        <translation>文件或文件夹不存在</translation>
    </message>
    <message>
        <location filename="../src/cli/Cli.cpp" line="235"/>
        <source>the folder holds no MP3 or WMA files</source>
        <translation>文件夹里没有MP3或WMA文件</translation>
    </message>
    <message>
        <location filename="../src/cli/Cli.cpp" line="238"/>
        <source>velomi-tag: note: %1: its subfolders hold MP3 or WMA files; -r takes them in</source>
        <translation>velomi-tag：提示：%1：其子文件夹里有MP3或WMA文件；加 -r 可一并处理</translation>
    </message>
    <message>
        <location filename="../src/cli/Cli.cpp" line="246"/>
        <source>not an MP3 or WMA file</source>
        <translation>不是MP3或WMA文件</translation>
    </message>
    <message>
        <location filename="../src/cli/Cli.cpp" line="300"/>
        <source>it is longer than %1 MiB</source>
        <translation>列表超过 %1 MiB</translation>
    </message>
    <message>
        <location filename="../src/cli/Cli.cpp" line="301"/>
        <source>it names more than %1 paths</source>
        <translation>列表中的路径超过 %1 个</translation>
    </message>
    <message>
        <location filename="../src/cli/Show.cpp" line="187"/>
        <source>the file is too short to be an MP3 file</source>
        <translation>文件太短，不是MP3文件</translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="465"/>
        <location filename="../src/cli/Show.cpp" line="112"/>
        <source>Title</source>
        <translation>歌曲标题</translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="464"/>
        <location filename="../src/cli/Show.cpp" line="112"/>
        <source>Artist</source>
        <translation>歌手</translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="466"/>
        <location filename="../src/cli/Show.cpp" line="112"/>
        <source>Album</source>
        <translation>专辑</translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="467"/>
        <location filename="../src/cli/Show.cpp" line="113"/>
        <source>Year</source>
        <translation>年份</translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="469"/>
        <location filename="../src/cli/Show.cpp" line="113"/>
        <source>Comment</source>
        <translation>说明</translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="468"/>
        <location filename="../src/cli/Show.cpp" line="113"/>
        <source>Track</source>
        <translation>音轨</translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="121"/>
        <location filename="../src/cli/Commands.cpp" line="470"/>
        <location filename="../src/cli/Show.cpp" line="114"/>
        <source>Genre</source>
        <translation>流派</translation>
    </message>
    <message>
        <location filename="../src/cli/Show.cpp" line="226"/>
        <source>not a WMA file</source>
        <translation>不是WMA文件</translation>
    </message>
    <message>
        <location filename="../src/cli/Show.cpp" line="114"/>
        <source>Copyright</source>
        <translation>版权</translation>
    </message>
    <message>
        <location filename="../src/cli/Show.cpp" line="114"/>
        <source>URL</source>
        <translation>网址</translation>
    </message>
    <message>
        <location filename="../src/cli/Show.cpp" line="115"/>
        <source>User URL</source>
        <translation>用户网址</translation>
    </message>
    <message>
        <location filename="../src/cli/Show.cpp" line="115"/>
        <source>Lyrics</source>
        <translation>歌词</translation>
    </message>
    <message>
        <location filename="../src/cli/Show.cpp" line="115"/>
        <source>Encoded by</source>
        <translation>编码者</translation>
    </message>
    <message>
        <location filename="../src/cli/Show.cpp" line="116"/>
        <source>Version</source>
        <translation>版本</translation>
    </message>
    <message>
        <location filename="../src/cli/Show.cpp" line="116"/>
        <source>Format</source>
        <translation>格式</translation>
    </message>
    <message>
        <location filename="../src/cli/Show.cpp" line="273"/>
        <source>none</source>
        <translation>无</translation>
    </message>
    <message>
        <location filename="../src/cli/Show.cpp" line="289"/>
        <source>Players show (legacy text)</source>
        <translation>播放器显示（旧编码文字）</translation>
    </message>
    <message>
        <location filename="../src/cli/Show.cpp" line="298"/>
        <source>cannot be read</source>
        <translation>无法读取</translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="41"/>
        <source>%1 &quot;%2&quot; is no ID3v1 genre: none stored</source>
        <translation>%1“%2”不是ID3v1流派：存为无流派</translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="44"/>
        <source>%1 holds characters GBK lacks (%2), stored as &quot;?&quot;, and was cut to fit the tag: &quot;%3&quot;</source>
        <translation>%1含有GBK没有的字符（%2），存为“?”，并被截短以放进标签：“%3”</translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="50"/>
        <source>%1 holds characters GBK lacks (%2), stored as &quot;?&quot;: &quot;%3&quot;</source>
        <translation>%1含有GBK没有的字符（%2），存为“?”：“%3”</translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="53"/>
        <source>%1 was cut to fit the tag: &quot;%2&quot;</source>
        <translation>%1被截短以放进标签：“%2”</translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="144"/>
        <source>not done: the batch ended at an earlier error</source>
        <translation>未处理：批处理因前面的错误而中止</translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="145"/>
        <location filename="../src/cli/Commands.cpp" line="247"/>
        <source>not done: stopped</source>
        <translation>未处理：已中止</translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="153"/>
        <source>velomi-tag: warning: the action could not be recorded and cannot be undone: %1</source>
        <translation>velomi-tag：警告：这次操作未能记入日志，无法撤销：%1</translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="203"/>
        <source>not written: an MP3 tag has no field for %1 (WMA files only)</source>
        <translation>未写入：MP3标签没有 %1 这一项（仅用于WMA文件）</translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="212"/>
        <source>not written (--strict): %1</source>
        <translation>未写入（--strict）：%1</translation>
    </message>
    <message numerus="yes">
        <location filename="../src/cli/Commands.cpp" line="315"/>
        <location filename="../src/cli/Commands.cpp" line="552"/>
        <source>%n file(s) written.</source>
        <translation>
            <numerusform>已写入 %n 个文件。</numerusform>
        </translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="255"/>
        <source>warning: %1</source>
        <translation>警告：%1</translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="152"/>
        <location filename="../src/cli/Commands.cpp" line="159"/>
        <location filename="../src/cli/Commands.cpp" line="865"/>
        <source>velomi-tag: warning: %1</source>
        <translation>velomi-tag：警告：%1</translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="355"/>
        <source>would fail (%1 → %2): %3</source>
        <translation>将会失败（%1 → %2）：%3</translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="495"/>
        <source>the name does not match the template</source>
        <translation>文件名与格式不符</translation>
    </message>
    <message numerus="yes">
        <location filename="../src/cli/Commands.cpp" line="643"/>
        <source>%1: %n text(s) read as %2</source>
        <translation>
            <numerusform>%1：%n 项文字按 %2 读出</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <location filename="../src/cli/Commands.cpp" line="644"/>
        <source>%1: %n text(s) would read as %2</source>
        <translation>
            <numerusform>%1：%n 项文字将按 %2 读出</numerusform>
        </translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="646"/>
        <source>%1: new ID3v2.3 tag, read as %2</source>
        <translation>%1：新建 ID3v2.3 标签，按 %2 读出</translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="647"/>
        <source>%1: would get a new ID3v2.3 tag, read as %2</source>
        <translation>%1：将新建 ID3v2.3 标签，按 %2 读出</translation>
    </message>
    <message numerus="yes">
        <location filename="../src/cli/Commands.cpp" line="649"/>
        <source>%1: %n frame(s) turned to Unicode, read as %2</source>
        <translation>
            <numerusform>%1：%n 个帧已转为 Unicode，按 %2 读出</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <location filename="../src/cli/Commands.cpp" line="651"/>
        <source>%1: %n frame(s) would turn to Unicode, read as %2</source>
        <translation>
            <numerusform>%1：%n 个帧将转为 Unicode，按 %2 读出</numerusform>
        </translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="658"/>
        <location filename="../src/cli/Commands.cpp" line="682"/>
        <source>(nothing)</source>
        <translation>（无）</translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="671"/>
        <source>%1: needs a look, left out: %2 (choose one with --encoding)</source>
        <translation>%1：需要确认，未转换：%2（用 --encoding 指定编码）</translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="689"/>
        <source>%1: nothing to convert (%2)</source>
        <translation>%1：无需转换（%2）</translation>
    </message>
    <message numerus="yes">
        <location filename="../src/cli/Commands.cpp" line="763"/>
        <source>velomi-tag: note: %n name(s) need a look; --encoding gbk, big5 or shift-jis reads them in that encoding</source>
        <translation>
            <numerusform>velomi-tag：提示：%n 个名称需要确认；用 --encoding gbk、big5 或 shift-jis 按该编码读取</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <location filename="../src/cli/Commands.cpp" line="792"/>
        <source>%n name(s) repaired.</source>
        <translation>
            <numerusform>已修复 %n 个名称。</numerusform>
        </translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="803"/>
        <source>velomi-tag: nothing to forget</source>
        <translation>velomi-tag：没有可放弃的操作</translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="807"/>
        <source>Forgot the action of %1; its files stay as they are.</source>
        <translation>已从撤销记录中去掉 %1 的操作；其文件保持现状。</translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="815"/>
        <source>The journal holds no actions.</source>
        <translation>日志里没有操作。</translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="817"/>
        <source>rename</source>
        <translation>改名</translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="818"/>
        <source>name repair</source>
        <translation>修复乱码文件名</translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="819"/>
        <source>batch edit</source>
        <translation>批量修改</translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="820"/>
        <source>convert</source>
        <translation>转换为 Unicode 标签</translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="821"/>
        <source>save</source>
        <translation>保存</translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="822"/>
        <source>%1  %2, %3 of %4 file(s) changed</source>
        <translation>%1  %2，%4 个文件中改动了 %3 个</translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="827"/>
        <source> (running)</source>
        <translation>（正在执行）</translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="829"/>
        <source> (cut short)</source>
        <translation>（中途中断）</translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="838"/>
        <source>velomi-tag: nothing to undo</source>
        <translation>velomi-tag：没有可撤销的操作</translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="857"/>
        <source>restored: %1</source>
        <translation>已恢复：%1</translation>
    </message>
    <message numerus="yes">
        <location filename="../src/cli/Commands.cpp" line="861"/>
        <source>Undid the action of %1: %n file(s) restored.</source>
        <translation>
            <numerusform>已撤销 %1 的操作：恢复了 %n 个文件。</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <location filename="../src/cli/Commands.cpp" line="868"/>
        <source>velomi-tag: %n file(s) not undone stay in the journal; &quot;velomi-tag undo&quot; tries them again, &quot;velomi-tag undo --forget&quot; drops them.</source>
        <translation>
            <numerusform>velomi-tag：%n 个未撤销的文件仍留在撤销记录中；“velomi-tag undo”会再试一次，“velomi-tag undo --forget”则将其去掉。</numerusform>
        </translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="66"/>
        <location filename="../src/cli/main.cpp" line="67"/>
        <location filename="../src/cli/main.cpp" line="68"/>
        <location filename="../src/cli/main.cpp" line="70"/>
        <location filename="../src/cli/main.cpp" line="74"/>
        <location filename="../src/cli/main.cpp" line="75"/>
        <location filename="../src/cli/main.cpp" line="76"/>
        <location filename="../src/cli/main.cpp" line="77"/>
        <location filename="../src/cli/main.cpp" line="78"/>
        <location filename="../src/cli/main.cpp" line="79"/>
        <source>TEXT</source>
        <translation>文字</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="66"/>
        <source>the title</source>
        <translation>歌曲标题</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="67"/>
        <source>the artist</source>
        <translation>歌手</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="68"/>
        <source>the album</source>
        <translation>专辑</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="69"/>
        <source>DIGITS</source>
        <translation>数字</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="69"/>
        <source>the year (digits only)</source>
        <translation>年份（只能是数字）</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="70"/>
        <source>the comment</source>
        <translation>说明</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="71"/>
        <source>N</source>
        <translation>N</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="71"/>
        <source>the track number, 0 to 255 (0: none)</source>
        <translation>音轨号，0 到 255（0 表示没有）</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="72"/>
        <source>G</source>
        <translation>G</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="73"/>
        <source>the genre, by name or by number 0 to 147; empty for none</source>
        <translation>流派，用名称或 0 到 147 的编号；空表示没有</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="74"/>
        <source>the copyright (WMA only)</source>
        <translation>版权（仅WMA）</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="75"/>
        <source>the web address (WMA only)</source>
        <translation>网址（仅WMA）</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="76"/>
        <source>the user&apos;s web address (WMA only)</source>
        <translation>用户网址（仅WMA）</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="77"/>
        <source>the lyrics (WMA only)</source>
        <translation>歌词（仅WMA）</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="78"/>
        <source>who encoded the file (WMA only)</source>
        <translation>编码者（仅WMA）</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="79"/>
        <source>the version text (WMA only)</source>
        <translation>版本（仅WMA）</translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="284"/>
        <source>the year may hold digits only: &quot;%1&quot;</source>
        <translation>年份只能是数字：“%1”</translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="292"/>
        <source>the track must be a number from 0 to 255: &quot;%1&quot;</source>
        <translation>音轨号必须是 0 到 255 的数字：“%1”</translation>
    </message>
    <message>
        <location filename="../src/cli/Commands.cpp" line="301"/>
        <source>no such genre: &quot;%1&quot;</source>
        <translation>没有这个流派：“%1”</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="98"/>
        <source>set: no field given</source>
        <translation>set：没有给出要写入的信息</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="132"/>
        <source>the template is empty</source>
        <translation>格式为空</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="134"/>
        <source>the template holds an unknown placeholder: %1</source>
        <translation>格式里有未知的占位符：%1</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="136"/>
        <source>the template ends in an unfinished %</source>
        <translation>格式以不完整的 % 结尾</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="138"/>
        <source>only %n and %i take a width: %1</source>
        <translation>只有 %n 和 %i 可以指定位数：%1</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="140"/>
        <source>the template may not hold &quot;/&quot;: it names files, not folders</source>
        <translation>格式不能含有“/”：它给文件命名，不给文件夹命名</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="142"/>
        <source>the template holds no placeholder</source>
        <translation>格式里没有占位符</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="144"/>
        <source>to read fields from names, two placeholders need text between them</source>
        <translation>要从文件名取信息，两个占位符之间须有文字</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="146"/>
        <source>to read fields from names, each placeholder may stand once: %1</source>
        <translation>要从文件名取信息，每个占位符只能用一次：%1</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="210"/>
        <source>print the version</source>
        <translation>显示版本</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="217"/>
        <source>a name template: %a artist, %t title, %b album, %y year, %n track (%2n: two digits), %c comment, %g genre, %i place in the list, %% a percent sign</source>
        <translation>文件名格式：%a 歌手，%t 歌曲标题，%b 专辑，%y 年份，%n 音轨（%2n：两位数），%c 说明，%g 流派，%i 列表中的序号，%% 百分号</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="344"/>
        <source>convert: --encoding must be auto, gbk, big5, shift-jis or cp1252</source>
        <translation>convert：--encoding 只能是 auto、gbk、big5、shift-jis 或 cp1252</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="360"/>
        <source>fix-names: --encoding must be auto, gbk, big5 or shift-jis</source>
        <translation>fix-names：--encoding 只能是 auto、gbk、big5 或 shift-jis</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="376"/>
        <source>tag-from-name: %i is the file&apos;s place in the list, no field of its tag</source>
        <translation>tag-from-name：%i 是文件在列表中的序号，不是标签里的信息</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="407"/>
        <source>--replace-with takes one character that file names can hold, or nothing, and goes with --format</source>
        <translation>--replace-with 只接受一个文件名可以含有的字符，或空，并须与 --format 同用</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="414"/>
        <source>--replace-windows goes with --replace-with</source>
        <translation>--replace-windows 须与 --replace-with 同用</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="221"/>
        <source>print one JSON document</source>
        <translation>输出一个JSON文档</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="28"/>
        <source>Shows, sets and renames the tags of MP3 and WMA files, as the VelomiMP3 window does, and undoes the last change of either.

Commands:
  show [--json] PATH...        each file&apos;s tag
  set [FIELD OPTIONS] [--strict] PATH...
                               writes the given fields (one action)
  rename --rule 1|2|3 | --format TEMPLATE [--dry-run] PATH...
                               renames files from their tags (one action)
  tag-from-name --format TEMPLATE [--dry-run] [--json] [--strict] PATH...
                               writes the fields each file&apos;s name gives (one action)
  convert [--encoding E] [--dry-run] [--json] PATH...
                               turns legacy tag texts (GBK, Big5, Shift-JIS, CP1252) of
                               MP3 and WMA files into Unicode, which players show (one
                               action)
  fix-names [--encoding auto|gbk|big5|shift-jis] [--dry-run] PATH...
                               repairs garbled file and folder names (GBK, Big5 or
                               Shift-JIS bytes, or their mojibake), any file (one action)
  undo [--list | --forget]     undoes the last action, or lists the recent ones

A folder stands for its MP3 and WMA files (-r: and its subfolders&apos;); --files-from FILE reads more paths from a file (- for standard input), one a line, or NUL-separated with -0. &apos;velomi-tag COMMAND --help&apos; shows the options of a command.
Templates: %a artist, %t title, %b album, %y year, %n track (%2n: two digits), %c comment, %g genre, %i the file&apos;s place in the list from 0, %% a percent sign.
Exit status: 0 when everything was done, 1 when some file failed, 2 for a usage error.</source>
        <translation>像 VelomiMP3 窗口那样显示、修改 MP3 和 WMA 文件的标签并按标签改名，也可撤销两者中任一方最后一次的改动。

命令：
  show [--json] 路径...          显示每个文件的标签
  set [信息选项] [--strict] 路径...
                               写入给出的各项信息（一次操作）
  rename --rule 1|2|3 | --format 格式 [--dry-run] 路径...
                               按标签给文件改名（一次操作）
  tag-from-name --format 格式 [--dry-run] [--json] [--strict] 路径...
                               写入每个文件名给出的信息（一次操作）
  convert [--encoding 编码] [--dry-run] [--json] 路径...
                               把 MP3 和 WMA 文件标签中的旧式文字（GBK、Big5、Shift-JIS、
                               CP1252）转为播放器能正确显示的 Unicode（一次操作）
  fix-names [--encoding auto|gbk|big5|shift-jis] [--dry-run] 路径...
                               修复乱码的文件名和文件夹名（GBK、Big5 或 Shift-JIS
                               字节，或它们的乱码），任何文件都可以（一次操作）
  undo [--list | --forget]     撤销最后一次操作，或列出最近的操作

文件夹代表其中的 MP3 和 WMA 文件（-r：连同子文件夹里的）；--files-from 文件 从文件（- 为标准输入）读入更多路径，每行一个，或加 -0 以 NUL 分隔。“velomi-tag 命令 --help”显示一个命令的选项。
格式：%a 歌手，%t 歌曲标题，%b 专辑，%y 年份，%n 音轨（%2n：两位数），%c 说明，%g 流派，%i 文件在列表中的序号（从0起），%% 百分号。
退出状态：全部完成为 0，有文件失败为 1，用法错误为 2。</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="214"/>
        <source>show, set, rename, tag-from-name, convert, fix-names or undo</source>
        <translation>show、set、rename、tag-from-name、convert、fix-names 或 undo</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="227"/>
        <location filename="../src/cli/main.cpp" line="249"/>
        <source>leave unwritten each file whose tag would not hold a text as given (cut, a character GBK lacks, no such genre)</source>
        <translation>标签存不下给出的文字（被截短、含GBK没有的字符、没有这个流派）的文件不写入</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="231"/>
        <source>1: artist - title, 2: title - artist, 3: artist - (number)title</source>
        <translation>1：歌手 - 歌曲标题，2：歌曲标题 - 歌手，3：歌手 - (序号)歌曲标题</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="233"/>
        <location filename="../src/cli/main.cpp" line="243"/>
        <source>TEMPLATE</source>
        <translation>格式</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="235"/>
        <source>with --format: put C (one character, or nothing) for each &quot;/&quot; of a field instead of refusing the name</source>
        <translation>与 --format 同用：把信息里的每个“/”换成 C（一个字符，或空），而不拒绝这个文件名</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="239"/>
        <source>with --replace-with: replace \ : * ? &quot; &lt; &gt; | and control characters too</source>
        <translation>与 --replace-with 同用：\ : * ? &quot; &lt; &gt; | 和控制字符也一并替换</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="241"/>
        <location filename="../src/cli/main.cpp" line="267"/>
        <source>print the plan and change nothing</source>
        <translation>只显示改名计划，不做任何改动</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="245"/>
        <source>print the fields each file would get and change nothing</source>
        <translation>显示每个文件将得到的信息，不做任何改动</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="247"/>
        <source>print one JSON document of the files and their fields</source>
        <translation>输出一个 JSON 文档，列出各文件及其信息</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="253"/>
        <source>read every file&apos;s legacy text in this encoding instead of each file&apos;s own detected one (auto, the default)</source>
        <translation>所有文件的旧式文字都按此编码读取，而不是按每个文件自动识别的编码（auto，默认）</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="257"/>
        <source>print each file&apos;s encoding and fields, before and after, and change nothing</source>
        <translation>列出每个文件的编码和各项文字转换前后的样子，不做任何改动</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="260"/>
        <source>print one JSON document of the files, their candidate encodings with their scores, and their fields</source>
        <translation>输出一个 JSON 文档：各文件、候选编码及其得分、各项文字</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="264"/>
        <source>what the garbled names were written in: auto (the default: each folder&apos;s names decide), gbk, big5 or shift-jis</source>
        <translation>乱码名称原来的编码：auto（默认：由每个文件夹里的名称决定）、gbk、big5 或 shift-jis</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="269"/>
        <source>list the recent actions</source>
        <translation>列出最近的操作</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="271"/>
        <source>drop the last action from the journal without undoing it</source>
        <translation>从撤销记录中去掉最后一次操作，但不撤销它</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="275"/>
        <source>take in the files of each folder&apos;s subfolders too</source>
        <translation>也处理每个文件夹的子文件夹里的文件</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="277"/>
        <source>read more paths from FILE, one a line (- for standard input)</source>
        <translation>从文件读入更多路径，每行一个（- 为标准输入）</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="278"/>
        <source>FILE</source>
        <translation>文件</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="280"/>
        <source>with --files-from: the paths are separated by NUL bytes</source>
        <translation>与 --files-from 同用：路径以 NUL 字节分隔</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="281"/>
        <source>files and folders</source>
        <translation>文件和文件夹</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="282"/>
        <source>PATH...</source>
        <translation>路径...</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="297"/>
        <source>no command given</source>
        <translation>没有给出命令</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="188"/>
        <source>unknown command: %1</source>
        <translation>未知命令：%1</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="189"/>
        <source>; did you mean %1?</source>
        <translation>。是不是 %1？</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="305"/>
        <source>undo takes no paths</source>
        <translation>undo 不接受路径</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="312"/>
        <source>-0 goes with --files-from</source>
        <translation>-0 须与 --files-from 同用</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="318"/>
        <source>cannot read the list %1: %2</source>
        <translation>无法读取路径列表 %1：%2</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="321"/>
        <source>%1: no path given</source>
        <translation>%1：没有给出路径</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="367"/>
        <source>--format is needed</source>
        <translation>须给出 --format</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="390"/>
        <source>rename: give either --rule or --format</source>
        <translation>rename：须给出 --rule 或 --format 之一</translation>
    </message>
    <message>
        <location filename="../src/cli/main.cpp" line="395"/>
        <source>rename: --rule must be 1, 2 or 3</source>
        <translation>rename：--rule 必须是 1、2 或 3</translation>
    </message>
</context>
</TS>
