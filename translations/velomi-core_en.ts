<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>Core</name>
    <message>
        <location filename="../src/core/plans/Apply.cpp" line="136"/>
        <source>文件太短，不是MP3文件</source>
        <translation>the file is too short to be an MP3 file</translation>
    </message>
    <message>
        <location filename="../src/core/plans/Apply.cpp" line="136"/>
        <source>不是WMA文件，或标签放不进文件头</source>
        <translation>not a WMA file, or the tag does not fit its header</translation>
    </message>
    <message>
        <location filename="../src/core/plans/Apply.cpp" line="150"/>
        <source>文件已写入，但无法确认已写入磁盘（%1），断电后可能恢复原样</source>
        <translation>the files were written, but it is not known whether that reached the disk (%1); after a power cut they may be as before</translation>
    </message>
    <message>
        <location filename="../src/core/plans/Apply.cpp" line="438"/>
        <source>名称已修复，但无法确认已写入磁盘（%1），断电后可能恢复原名</source>
        <translation>the names were repaired, but they are not known to be on the disk (%1); a power cut may bring the old names back</translation>
    </message>
    <message>
        <location filename="../src/core/journal/Journal.cpp" line="754"/>
        <source>此操作的撤销记录超过 %1 MiB，无法撤销</source>
        <translation>the undo record of this action passes %1 MiB: it cannot be undone</translation>
    </message>
    <message>
        <location filename="../src/core/plans/Apply.cpp" line="224"/>
        <source>完成记录未能写入（%1），此操作将在下次启动时从磁盘核对</source>
        <translation>the action&apos;s done record could not be written (%1); the action will be checked against the disk at the next start</translation>
    </message>
    <message>
        <location filename="../src/core/plans/Apply.cpp" line="254"/>
        <source>撤销记录无法写入，未做任何修改：%1</source>
        <translation>the undo record could not be written, so nothing was changed: %1</translation>
    </message>
    <message>
        <location filename="../src/core/plans/Apply.cpp" line="148"/>
        <source>文件已改名，但无法确认已写入磁盘（%1），断电后可能恢复原名</source>
        <translation>the files were renamed, but it is not known that the disk holds the new names (%1); after a power cut they may have their old names</translation>
    </message>
    <message>
        <location filename="../src/core/fields/Fields.cpp" line="73"/>
        <source>标题</source>
        <translation>Title</translation>
    </message>
    <message>
        <location filename="../src/core/fields/Fields.cpp" line="79"/>
        <location filename="../src/core/fields/NameTemplate.cpp" line="65"/>
        <location filename="../src/core/model/TrackListModel.cpp" line="26"/>
        <location filename="../src/core/plans/Plans.cpp" line="306"/>
        <source>歌手</source>
        <translation>Artist</translation>
    </message>
    <message>
        <location filename="../src/core/fields/Fields.cpp" line="81"/>
        <location filename="../src/core/fields/NameTemplate.cpp" line="69"/>
        <location filename="../src/core/model/TrackListModel.cpp" line="27"/>
        <location filename="../src/core/plans/Plans.cpp" line="308"/>
        <source>专辑</source>
        <translation>Album</translation>
    </message>
    <message>
        <location filename="../src/core/fields/Fields.cpp" line="83"/>
        <location filename="../src/core/fields/NameTemplate.cpp" line="71"/>
        <location filename="../src/core/model/TrackListModel.cpp" line="27"/>
        <location filename="../src/core/plans/Plans.cpp" line="310"/>
        <source>年份</source>
        <translation>Year</translation>
    </message>
    <message>
        <location filename="../src/core/fields/Fields.cpp" line="85"/>
        <location filename="../src/core/fields/NameTemplate.cpp" line="75"/>
        <location filename="../src/core/plans/Plans.cpp" line="312"/>
        <source>说明</source>
        <translation>Comment</translation>
    </message>
    <message>
        <location filename="../src/core/journal/Journal.cpp" line="361"/>
        <location filename="../src/core/journal/Journal.cpp" line="554"/>
        <source>撤销记录文件夹 %1 不是当前用户自己的文件夹（或是符号链接），已拒绝使用</source>
        <translation>the journal&apos;s folder %1 is not the current user&apos;s own folder (or is a symbolic link): refused</translation>
    </message>
    <message>
        <location filename="../src/core/journal/Journal.cpp" line="364"/>
        <source>无法建立撤销记录文件夹 %1：%2</source>
        <translation>cannot make the journal&apos;s folder %1: %2</translation>
    </message>
    <message>
        <location filename="../src/core/journal/Journal.cpp" line="381"/>
        <source>无法在撤销记录文件夹中登记本程序：%1</source>
        <translation>cannot register this program in the journal&apos;s folder: %1</translation>
    </message>
    <message>
        <location filename="../src/core/journal/Journal.cpp" line="434"/>
        <source>撤销记录已损坏或不是本程序的记录（%1），且无法移走：%2，其中的操作无法撤销</source>
        <translation>the journal is damaged or not this program&apos;s (%1) and cannot be moved away: %2; its actions cannot be undone</translation>
    </message>
    <message>
        <location filename="../src/core/journal/Journal.cpp" line="438"/>
        <source>撤销记录已损坏或不是本程序的记录（%1），已移到 %2，其中的操作无法撤销</source>
        <translation>the journal is damaged or not this program&apos;s (%1); it was moved to %2 and its actions cannot be undone</translation>
    </message>
    <message>
        <location filename="../src/core/journal/Journal.cpp" line="509"/>
        <source>第 %1 字节处有零字节</source>
        <translation>zero bytes at byte %1</translation>
    </message>
    <message>
        <location filename="../src/core/journal/Journal.cpp" line="526"/>
        <source>第 %1 字节处的记录</source>
        <translation>the record at byte %1</translation>
    </message>
    <message>
        <location filename="../src/core/journal/Journal.cpp" line="460"/>
        <source>完成记录没有对应的开始记录</source>
        <translation>a done record without its begin record</translation>
    </message>
    <message>
        <location filename="../src/core/journal/Journal.cpp" line="542"/>
        <source>撤销记录的锁文件 %1.lock 是符号链接，已拒绝使用</source>
        <translation>the journal&apos;s lock file %1.lock is a symbolic link: refused</translation>
    </message>
    <message>
        <location filename="../src/core/journal/Journal.cpp" line="569"/>
        <source>撤销记录 %1 是符号链接，已拒绝使用</source>
        <translation>the journal %1 is a symbolic link: refused</translation>
    </message>
    <message>
        <location filename="../src/core/journal/Journal.cpp" line="571"/>
        <source>撤销记录 %1 不是当前用户自己的普通文件，已拒绝使用</source>
        <translation>the journal %1 is not a regular file of the current user: refused</translation>
    </message>
    <message>
        <location filename="../src/core/journal/Journal.cpp" line="572"/>
        <source>无法打开撤销记录 %1：%2</source>
        <translation>cannot open the journal %1: %2</translation>
    </message>
    <message>
        <location filename="../src/core/journal/Journal.cpp" line="582"/>
        <source>文件大小 %1 MiB，远超上限</source>
        <translation>its size, %1 MiB, is far above the bound</translation>
    </message>
    <message>
        <location filename="../src/core/journal/Journal.cpp" line="489"/>
        <location filename="../src/core/journal/Journal.cpp" line="505"/>
        <source>无法读取撤销记录：%1</source>
        <translation>cannot read the journal: %1</translation>
    </message>
    <message>
        <location filename="../src/core/journal/Journal.cpp" line="494"/>
        <source>第 %1 字节处的记录过长</source>
        <translation>the record at byte %1 is too long</translation>
    </message>
    <message>
        <location filename="../src/core/journal/Journal.cpp" line="683"/>
        <source>无法写入撤销记录：%1</source>
        <translation>cannot write the journal: %1</translation>
    </message>
    <message>
        <location filename="../src/core/journal/Journal.cpp" line="692"/>
        <source>无法整理撤销记录</source>
        <translation>cannot trim the journal</translation>
    </message>
    <message>
        <location filename="../src/core/journal/Journal.cpp" line="725"/>
        <source>无法整理撤销记录：%1</source>
        <translation>cannot trim the journal: %1</translation>
    </message>
    <message>
        <location filename="../src/core/journal/Journal.cpp" line="815"/>
        <source>无法改写撤销记录</source>
        <translation>cannot rewrite the journal</translation>
    </message>
    <message>
        <location filename="../src/core/journal/Journal.cpp" line="843"/>
        <source>无法改写撤销记录：%1</source>
        <translation>cannot rewrite the journal: %1</translation>
    </message>
    <message>
        <location filename="../src/core/fields/NameTemplate.cpp" line="67"/>
        <location filename="../src/core/model/TrackListModel.cpp" line="25"/>
        <source>歌曲标题</source>
        <translation>Title</translation>
    </message>
    <message>
        <location filename="../src/core/fields/Fields.cpp" line="75"/>
        <location filename="../src/core/fields/NameTemplate.cpp" line="73"/>
        <location filename="../src/core/model/TrackListModel.cpp" line="28"/>
        <source>音轨</source>
        <translation>Track</translation>
    </message>
    <message>
        <location filename="../src/core/fields/Fields.cpp" line="77"/>
        <location filename="../src/core/fields/NameTemplate.cpp" line="77"/>
        <location filename="../src/core/model/TrackListModel.cpp" line="28"/>
        <source>流派</source>
        <translation>Genre</translation>
    </message>
    <message>
        <location filename="../src/core/fields/NameTemplate.cpp" line="79"/>
        <source>序号</source>
        <translation>Number</translation>
    </message>
    <message>
        <location filename="../src/core/fields/NameTemplate.cpp" line="109"/>
        <source>格式为空</source>
        <translation>the template is empty</translation>
    </message>
    <message>
        <location filename="../src/core/fields/NameTemplate.cpp" line="111"/>
        <source>格式里有未知的占位符“%1”</source>
        <translation>the template holds an unknown placeholder: &quot;%1&quot;</translation>
    </message>
    <message>
        <location filename="../src/core/fields/NameTemplate.cpp" line="113"/>
        <source>格式以不完整的“%”结尾</source>
        <translation>the template ends in an unfinished &quot;%&quot;</translation>
    </message>
    <message>
        <location filename="../src/core/fields/NameTemplate.cpp" line="115"/>
        <source>只有%n和%i可以指定位数：“%1”</source>
        <translation>only %n and %i take a width: &quot;%1&quot;</translation>
    </message>
    <message>
        <location filename="../src/core/fields/NameTemplate.cpp" line="117"/>
        <source>格式不能含有“/”</source>
        <translation>the template may not hold &quot;/&quot;</translation>
    </message>
    <message>
        <location filename="../src/core/fields/NameTemplate.cpp" line="119"/>
        <source>格式里没有占位符</source>
        <translation>the template holds no placeholder</translation>
    </message>
    <message>
        <location filename="../src/core/fields/NameTemplate.cpp" line="121"/>
        <source>两个占位符之间须有文字才能从文件名取出信息</source>
        <translation>to read fields from names, two placeholders need text between them</translation>
    </message>
    <message>
        <location filename="../src/core/fields/NameTemplate.cpp" line="123"/>
        <source>从文件名取信息时每个占位符只能用一次：“%1”</source>
        <translation>to read fields from names, each placeholder may stand once: &quot;%1&quot;</translation>
    </message>
    <message>
        <location filename="../src/core/fields/NameTemplate.cpp" line="201"/>
        <source>%1为空</source>
        <translation>%1 is empty</translation>
    </message>
    <message>
        <location filename="../src/core/fields/NameTemplate.cpp" line="216"/>
        <source>新文件名只有格式里的分隔符</source>
        <translation>the new name holds nothing but the template&apos;s separators</translation>
    </message>
    <message>
        <location filename="../src/core/plans/Plans.cpp" line="47"/>
        <source>新文件名超过255字节</source>
        <translation>the new name is longer than 255 bytes</translation>
    </message>
    <message>
        <location filename="../src/core/plans/Plans.cpp" line="49"/>
        <source>新文件名含有控制字符</source>
        <translation>the new name holds a control character</translation>
    </message>
    <message>
        <location filename="../src/core/plans/Plans.cpp" line="148"/>
        <source>新文件名以“.”开头，文件会被隐藏</source>
        <translation>the new name begins with &quot;.&quot;, which hides the file</translation>
    </message>
    <message>
        <location filename="../src/core/plans/Plans.cpp" line="51"/>
        <source>新文件名含有文件名不允许的字符“%1”</source>
        <translation>the new name holds &quot;%1&quot;, which file names may not hold</translation>
    </message>
    <message>
        <location filename="../src/core/plans/Plans.cpp" line="54"/>
        <source>新文件名不合法</source>
        <translation>the new name is not a valid file name</translation>
    </message>
    <message>
        <location filename="../src/core/plans/Plans.cpp" line="139"/>
        <source>文件名已经相同</source>
        <translation>the file already has that name</translation>
    </message>
    <message>
        <location filename="../src/core/journal/Undo.cpp" line="44"/>
        <location filename="../src/core/plans/Plans.cpp" line="155"/>
        <location filename="../src/core/utils/Reasons.cpp" line="28"/>
        <source>文件不存在</source>
        <translation>no such file</translation>
    </message>
    <message>
        <location filename="../src/core/plans/Plans.cpp" line="173"/>
        <source>“%1”（第 %2 行）</source>
        <translation>&quot;%1&quot; (row %2)</translation>
    </message>
    <message>
        <location filename="../src/core/plans/Plans.cpp" line="174"/>
        <source>“%1”（第 %2 个文件）</source>
        <translation>&quot;%1&quot; (file %2)</translation>
    </message>
    <message>
        <location filename="../src/core/plans/Plans.cpp" line="179"/>
        <source>与%1的新文件名相同</source>
        <translation>the same as the new name of %1</translation>
    </message>
    <message>
        <location filename="../src/core/plans/Plans.cpp" line="181"/>
        <source>目标文件名是%1的现名，它在此之后才改名</source>
        <translation>the new name is the name of %1, which is renamed only later</translation>
    </message>
    <message>
        <location filename="../src/core/plans/Plans.cpp" line="183"/>
        <source>目标文件名是%1的现名，它不改名</source>
        <translation>the new name is the name of %1, which is not renamed</translation>
    </message>
    <message>
        <location filename="../src/core/plans/Plans.cpp" line="185"/>
        <location filename="../src/core/utils/Reasons.cpp" line="18"/>
        <source>目标文件已存在</source>
        <translation>a file of the new name exists</translation>
    </message>
    <message>
        <location filename="../src/core/plans/Plans.cpp" line="202"/>
        <source>歌曲标题为空</source>
        <translation>Title is empty</translation>
    </message>
    <message>
        <location filename="../src/core/plans/Plans.cpp" line="203"/>
        <source>歌手为空</source>
        <translation>Artist is empty</translation>
    </message>
    <message>
        <location filename="../src/core/plans/Plans.cpp" line="207"/>
        <source>没有这条改名规则</source>
        <translation>no such rename rule</translation>
    </message>
    <message>
        <location filename="../src/core/plans/Plans.cpp" line="226"/>
        <source>共 %1 个文件：改名 %2，跳过 %3，冲突 %4，拒绝 %5</source>
        <translation>%1 file(s): rename %2, skip %3, conflict %4, refused %5</translation>
    </message>
    <message>
        <location filename="../src/core/plans/NamePlans.cpp" line="331"/>
        <location filename="../src/core/plans/Plans.cpp" line="242"/>
        <source>[%1] %2%3：%4</source>
        <translation>[%1] %2%3: %4</translation>
    </message>
    <message>
        <location filename="../src/core/plans/NamePlans.cpp" line="322"/>
        <location filename="../src/core/plans/Plans.cpp" line="244"/>
        <source>冲突</source>
        <translation>conflict</translation>
    </message>
    <message>
        <location filename="../src/core/plans/NamePlans.cpp" line="99"/>
        <source>%1「%2」</source>
        <translation>%1 &quot;%2&quot;</translation>
    </message>
    <message>
        <location filename="../src/core/plans/NamePlans.cpp" line="101"/>
        <source> 或 </source>
        <translation> or </translation>
    </message>
    <message>
        <location filename="../src/core/plans/NamePlans.cpp" line="128"/>
        <source>与“%1”修复后的名称相同</source>
        <translation>the same as the repaired name of &quot;%1&quot;</translation>
    </message>
    <message>
        <location filename="../src/core/plans/NamePlans.cpp" line="132"/>
        <source>已有同名的文件或文件夹，它在此之后才改名</source>
        <translation>a file or folder of that name exists, and is renamed only later</translation>
    </message>
    <message>
        <location filename="../src/core/plans/NamePlans.cpp" line="133"/>
        <source>已有同名的文件或文件夹</source>
        <translation>a file or folder of that name exists</translation>
    </message>
    <message>
        <location filename="../src/core/plans/NamePlans.cpp" line="142"/>
        <source>需要确认：可能是 %1</source>
        <translation>needs a look: it may be %1</translation>
    </message>
    <message>
        <location filename="../src/core/plans/NamePlans.cpp" line="240"/>
        <source>无法识别编码</source>
        <translation>no encoding reads it</translation>
    </message>
    <message>
        <location filename="../src/core/plans/NamePlans.cpp" line="245"/>
        <location filename="../src/core/plans/NamePlans.cpp" line="273"/>
        <source>修复后的名称超过255字节</source>
        <translation>the repaired name is longer than 255 bytes</translation>
    </message>
    <message>
        <location filename="../src/core/plans/NamePlans.cpp" line="305"/>
        <source>%1，经 %2 乱码</source>
        <translation>%1, garbled through %2</translation>
    </message>
    <message>
        <location filename="../src/core/plans/NamePlans.cpp" line="309"/>
        <source>共 %1 个乱码名称：修复 %2，需要确认 %3，冲突 %4，无法识别 %5</source>
        <translation>%1 garbled name(s): %2 to repair, %3 need a look, %4 in conflict, %5 unreadable</translation>
    </message>
    <message>
        <location filename="../src/core/plans/NamePlans.cpp" line="323"/>
        <location filename="../src/core/plans/Plans.cpp" line="245"/>
        <source>拒绝</source>
        <translation>refused</translation>
    </message>
    <message>
        <location filename="../src/core/plans/NamePlans.cpp" line="324"/>
        <source>需要确认</source>
        <translation>needs a look</translation>
    </message>
    <message>
        <location filename="../src/core/plans/NamePlans.cpp" line="325"/>
        <location filename="../src/core/plans/Plans.cpp" line="253"/>
        <source>跳过</source>
        <translation>skipped</translation>
    </message>
    <message>
        <location filename="../src/core/plans/NamePlans.cpp" line="341"/>
        <source>%1 → %2（%3）</source>
        <translation>%1 → %2 (%3)</translation>
    </message>
    <message>
        <location filename="../src/core/plans/NamePlans.cpp" line="344"/>
        <source>……另有 %1 个名称未列出</source>
        <translation>... and %1 more name(s) not listed</translation>
    </message>
    <message>
        <location filename="../src/core/plans/Plans.cpp" line="264"/>
        <location filename="../src/core/plans/Plans.cpp" line="500"/>
        <location filename="../src/core/plans/Plans.cpp" line="912"/>
        <source>……另有 %1 个文件未列出</source>
        <translation>... and %1 more file(s) not listed</translation>
    </message>
    <message>
        <location filename="../src/core/plans/Plans.cpp" line="494"/>
        <source>    ID3v2 %1：%2 → %3</source>
        <translation>    ID3v2 %1: %2 → %3</translation>
    </message>
    <message>
        <location filename="../src/core/plans/Plans.cpp" line="497"/>
        <source>    旧编码 %1：%2 → %3</source>
        <translation>    legacy %1: %2 → %3</translation>
    </message>
    <message>
        <location filename="../src/core/plans/Plans.cpp" line="722"/>
        <source>不是WMA文件</source>
        <translation>not a WMA file</translation>
    </message>
    <message>
        <location filename="../src/core/plans/Plans.cpp" line="745"/>
        <source>不是MP3文件</source>
        <translation>not an MP3 file</translation>
    </message>
    <message>
        <location filename="../src/core/plans/Plans.cpp" line="876"/>
        <source>，需要确认 %1</source>
        <translation>, %1 need a look</translation>
    </message>
    <message>
        <location filename="../src/core/plans/Plans.cpp" line="903"/>
        <source>：%1 项文字按 %2 读出</source>
        <translation>: %1 text(s) read as %2</translation>
    </message>
    <message>
        <location filename="../src/core/plans/Plans.cpp" line="905"/>
        <source>：新建 ID3v2.3 标签（UTF-16），按 %1 读出</source>
        <translation>: new ID3v2.3 tag (UTF-16), read as %1</translation>
    </message>
    <message>
        <location filename="../src/core/plans/Plans.cpp" line="906"/>
        <source>：%1 个帧转为 Unicode，按 %2 读出</source>
        <translation>: %1 frame(s) turned to Unicode, read as %2</translation>
    </message>
    <message>
        <location filename="../src/core/plans/Plans.cpp" line="676"/>
        <source>ID3v2 标签已是 Unicode</source>
        <translation>the ID3v2 tag is Unicode already</translation>
    </message>
    <message>
        <location filename="../src/core/plans/Plans.cpp" line="685"/>
        <location filename="../src/core/plans/Plans.cpp" line="738"/>
        <source>没有需要转换的文字</source>
        <translation>no text to convert</translation>
    </message>
    <message>
        <location filename="../src/core/plans/Plans.cpp" line="549"/>
        <source>需要确认：无法确定文字的编码</source>
        <translation>needs a look: the encoding of the text cannot be told</translation>
    </message>
    <message>
        <location filename="../src/core/plans/Plans.cpp" line="550"/>
        <source>需要确认：可能是 %1，也可能是 %2</source>
        <translation>needs a look: %1 or %2</translation>
    </message>
    <message>
        <location filename="../src/core/plans/Plans.cpp" line="812"/>
        <source>播放器显示为乱码（转换为 Unicode 标签可修正）：</source>
        <translation>Players show this garbled (a conversion to Unicode tags fixes it):</translation>
    </message>
    <message>
        <location filename="../src/core/plans/Plans.cpp" line="814"/>
        <source>%1：播放器显示“%2”，应为“%3”</source>
        <translation>%1: players show &quot;%2&quot;, it reads &quot;%3&quot;</translation>
    </message>
    <message>
        <location filename="../src/core/plans/Plans.cpp" line="815"/>
        <source>（无）</source>
        <translation>(nothing)</translation>
    </message>
    <message>
        <location filename="../src/core/plans/Plans.cpp" line="898"/>
        <location filename="../src/core/plans/Plans.cpp" line="910"/>
        <source>    %1 项文字无法识别编码，保持原样</source>
        <translation>    %1 texts in no encoding we know, left as they are</translation>
    </message>
    <message>
        <location filename="../src/core/plans/Plans.cpp" line="871"/>
        <source>共 %1 个文件：转换 %2，无需转换 %3，无法转换 %4</source>
        <translation>%1 file(s): %2 to convert, %3 with nothing to convert, %4 that cannot be converted</translation>
    </message>
    <message>
        <location filename="../src/core/plans/Plans.cpp" line="884"/>
        <source>[无法转换] %1：%2</source>
        <translation>[cannot convert] %1: %2</translation>
    </message>
    <message>
        <location filename="../src/core/plans/Plans.cpp" line="896"/>
        <source>%1：%2</source>
        <translation>%1: %2</translation>
    </message>
    <message>
        <location filename="../src/core/fields/Id3v2Fields.cpp" line="222"/>
        <source>%1：播放器显示乱码“%2”（旧编码文字，应为“%3”），此处为“%4”</source>
        <translation>%1: players show &quot;%2&quot; garbled (legacy text that reads &quot;%3&quot;), here &quot;%4&quot;</translation>
    </message>
    <message>
        <location filename="../src/core/fields/Id3v2Fields.cpp" line="225"/>
        <source>%1：ID3v2 为“%2”，此处为“%3”</source>
        <translation>%1: the ID3v2 tag says &quot;%2&quot;, here &quot;%3&quot;</translation>
    </message>
    <message>
        <location filename="../src/core/fields/Id3v2Fields.cpp" line="279"/>
        <source>ID3v2 标签无法安全改写</source>
        <translation>the ID3v2 tag cannot be rewritten safely</translation>
    </message>
    <message>
        <location filename="../src/core/fields/Id3v2Fields.cpp" line="281"/>
        <location filename="../src/core/plans/Plans.cpp" line="412"/>
        <location filename="../src/core/plans/Plans.cpp" line="753"/>
        <source>无法读取标签</source>
        <translation>cannot read the tag</translation>
    </message>
    <message>
        <location filename="../src/core/fields/Id3v2Fields.cpp" line="283"/>
        <source>文件已有 ID3v2 标签</source>
        <translation>the file has an ID3v2 tag already</translation>
    </message>
    <message>
        <location filename="../src/core/fields/Id3v2Fields.cpp" line="285"/>
        <source>文件没有 ID3v2 标签</source>
        <translation>the file has no ID3v2 tag</translation>
    </message>
    <message>
        <location filename="../src/core/plans/Plans.cpp" line="429"/>
        <source>不是WMA文件或文件不存在</source>
        <translation>not a WMA file, or no such file</translation>
    </message>
    <message>
        <location filename="../src/core/plans/Plans.cpp" line="466"/>
        <source>共 %1 个文件：修改 %2，无需修改 %3，无法读取 %4</source>
        <translation>%1 file(s): change %2, unchanged %3, unreadable %4</translation>
    </message>
    <message>
        <location filename="../src/core/plans/Plans.cpp" line="478"/>
        <source>[无法读取] %1：%2</source>
        <translation>[unreadable] %1: %2</translation>
    </message>
    <message>
        <location filename="../src/core/plans/Plans.cpp" line="488"/>
        <source>：没有要改变的信息</source>
        <translation>: nothing to change</translation>
    </message>
    <message>
        <location filename="../src/core/plans/Plans.cpp" line="490"/>
        <location filename="../src/core/plans/Plans.cpp" line="908"/>
        <source>    %1：%2 → %3</source>
        <translation>    %1: %2 → %3</translation>
    </message>
    <message>
        <location filename="../src/core/utils/Reasons.cpp" line="10"/>
        <source>操作失败</source>
        <translation>the operation failed</translation>
    </message>
    <message>
        <location filename="../src/core/utils/Reasons.cpp" line="21"/>
        <source>权限不足</source>
        <translation>permission denied</translation>
    </message>
    <message>
        <location filename="../src/core/utils/Reasons.cpp" line="23"/>
        <source>磁盘只读</source>
        <translation>the disk is read-only</translation>
    </message>
    <message>
        <location filename="../src/core/utils/Reasons.cpp" line="26"/>
        <source>磁盘已满</source>
        <translation>the disk is full</translation>
    </message>
    <message>
        <location filename="../src/core/utils/Reasons.cpp" line="30"/>
        <source>文件名过长</source>
        <translation>the file name is too long</translation>
    </message>
    <message>
        <location filename="../src/core/utils/Reasons.cpp" line="32"/>
        <source>文件名不合法</source>
        <translation>the file name is not valid</translation>
    </message>
    <message>
        <location filename="../src/core/utils/Reasons.cpp" line="35"/>
        <source>文件正被占用</source>
        <translation>the file is in use</translation>
    </message>
    <message>
        <location filename="../src/core/utils/Reasons.cpp" line="37"/>
        <source>读写错误</source>
        <translation>input/output error</translation>
    </message>
    <message>
        <location filename="../src/core/utils/Reasons.cpp" line="39"/>
        <source>这是一个文件夹</source>
        <translation>this is a folder</translation>
    </message>
    <message>
        <location filename="../src/core/utils/Reasons.cpp" line="41"/>
        <source>这是一个命名管道（FIFO），不是歌曲文件</source>
        <translation>it is a FIFO (named pipe), not a song file</translation>
    </message>
    <message>
        <location filename="../src/core/utils/Reasons.cpp" line="43"/>
        <source>这是一个设备，不是歌曲文件</source>
        <translation>it is a device, not a song file</translation>
    </message>
    <message>
        <location filename="../src/core/utils/Reasons.cpp" line="45"/>
        <source>文件已被其他程序修改</source>
        <translation>the file was changed by another program</translation>
    </message>
    <message>
        <location filename="../src/core/model/TrackListModel.cpp" line="25"/>
        <source>文件名</source>
        <translation>File name</translation>
    </message>
    <message>
        <location filename="../src/core/model/TrackListModel.cpp" line="26"/>
        <source>路径</source>
        <translation>Folder</translation>
    </message>
    <message>
        <location filename="../src/core/model/TrackListModel.cpp" line="29"/>
        <source>新文件名</source>
        <translation>New file name</translation>
    </message>
    <message>
        <location filename="../src/core/journal/Undo.cpp" line="17"/>
        <source>文件在此之后已被改动，未撤销</source>
        <translation>the file was changed since: not undone</translation>
    </message>
    <message>
        <location filename="../src/core/journal/Undo.cpp" line="18"/>
        <source>另一个窗口或命令正在执行此操作</source>
        <translation>another window or command is carrying out this action</translation>
    </message>
    <message>
        <location filename="../src/core/journal/Undo.cpp" line="46"/>
        <source>原文件名已被另一个文件占用</source>
        <translation>another file has taken the old name</translation>
    </message>
    <message>
        <location filename="../src/core/journal/Undo.cpp" line="48"/>
        <source>此文件的写入曾被中断，尚未核对</source>
        <translation>a write of this file was cut short and is not settled yet</translation>
    </message>
    <message>
        <location filename="../src/core/journal/Undo.cpp" line="50"/>
        <source>文件暂时无法访问</source>
        <translation>the file cannot be reached for now</translation>
    </message>
    <message>
        <location filename="../src/core/journal/Undo.cpp" line="83"/>
        <source>撤销记录中此操作的数据不完整，无法撤销</source>
        <translation>the journal&apos;s record of this action is incomplete: it cannot be undone</translation>
    </message>
    <message>
        <location filename="../src/core/journal/Undo.cpp" line="144"/>
        <location filename="../src/core/journal/Undo.cpp" line="209"/>
        <source>记录中的位置不可信，未撤销</source>
        <translation>the place the record names cannot be trusted: not undone</translation>
    </message>
    <message>
        <location filename="../src/core/journal/Undo.cpp" line="148"/>
        <location filename="../src/core/journal/Undo.cpp" line="213"/>
        <source>文件夹不存在</source>
        <translation>no such folder</translation>
    </message>
    <message>
        <location filename="../src/core/journal/Undo.cpp" line="278"/>
        <source>文件已恢复，但无法确认已写入磁盘（%1），它们仍留在撤销记录中</source>
        <translation>the files were restored, but it is not known whether that reached the disk (%1); they stay in the journal</translation>
    </message>
</context>
</TS>
