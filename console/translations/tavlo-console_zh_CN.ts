<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>ClassroomCommands</name>
    <message>
        <location filename="../ClassroomCommands.cpp" line="37"/>
        <source>group %1 is not present</source>
        <translation>第 %1 组不在线</translation>
    </message>
    <message>
        <location filename="../ClassroomCommands.cpp" line="57"/>
        <location filename="../ClassroomCommands.cpp" line="131"/>
        <source>no group is present</source>
        <translation>没有在线的小组</translation>
    </message>
    <message>
        <location filename="../ClassroomCommands.cpp" line="74"/>
        <source>group %1&apos;s address %2 %3</source>
        <translation>第 %1 组的地址 %2：%3</translation>
    </message>
</context>
<context>
    <name>ClassroomKeyWindow</name>
    <message>
        <location filename="../ClassroomKeyWindow.cpp" line="19"/>
        <location filename="../ClassroomKeyWindow.cpp" line="116"/>
        <source>Classroom key</source>
        <translation>教室密钥</translation>
    </message>
    <message>
        <location filename="../ClassroomKeyWindow.cpp" line="21"/>
        <source>Terminals whose team.bin names this public key as &quot;hostKey&quot; obey only the commands this console signs.</source>
        <translation>team.bin 中以 &quot;hostKey&quot; 指定此公钥的终端只执行本控制台签名的命令。</translation>
    </message>
    <message>
        <location filename="../ClassroomKeyWindow.cpp" line="34"/>
        <source>Public key:</source>
        <translation>公钥：</translation>
    </message>
    <message>
        <location filename="../ClassroomKeyWindow.cpp" line="35"/>
        <source>Fingerprint:</source>
        <translation>指纹：</translation>
    </message>
    <message>
        <location filename="../ClassroomKeyWindow.cpp" line="36"/>
        <source>Key pair file:</source>
        <translation>密钥对文件：</translation>
    </message>
    <message>
        <location filename="../ClassroomKeyWindow.cpp" line="43"/>
        <source>Copy public key</source>
        <translation>复制公钥</translation>
    </message>
    <message>
        <location filename="../ClassroomKeyWindow.cpp" line="44"/>
        <source>Export key pair…</source>
        <translation>导出密钥对…</translation>
    </message>
    <message>
        <location filename="../ClassroomKeyWindow.cpp" line="45"/>
        <source>Import key pair…</source>
        <translation>导入密钥对…</translation>
    </message>
    <message>
        <location filename="../ClassroomKeyWindow.cpp" line="46"/>
        <source>Close</source>
        <translation>关闭</translation>
    </message>
    <message>
        <location filename="../ClassroomKeyWindow.cpp" line="47"/>
        <source>Save the key pair for another teacher&apos;s computer or for tavlo-host --key. Whoever holds it can command every terminal that trusts this key.</source>
        <translation>保存密钥对，供另一台教师电脑或 tavlo-host --key 使用。持有它的人可以指挥所有信任此密钥的终端。</translation>
    </message>
    <message>
        <location filename="../ClassroomKeyWindow.cpp" line="49"/>
        <source>Use a key pair exported by another console, so both command the same terminals</source>
        <translation>使用另一台控制台导出的密钥对，使两者指挥相同的终端</translation>
    </message>
    <message>
        <location filename="../ClassroomKeyWindow.cpp" line="68"/>
        <source>no key: commands cannot be signed</source>
        <translation>没有密钥：命令无法签名</translation>
    </message>
    <message>
        <location filename="../ClassroomKeyWindow.cpp" line="76"/>
        <source>this console has no key</source>
        <translation>本控制台没有密钥</translation>
    </message>
    <message>
        <location filename="../ClassroomKeyWindow.cpp" line="78"/>
        <source>cannot export: %1</source>
        <translation>无法导出：%1</translation>
    </message>
    <message>
        <location filename="../ClassroomKeyWindow.cpp" line="79"/>
        <source>Exported to %1</source>
        <translation>已导出到 %1</translation>
    </message>
    <message>
        <location filename="../ClassroomKeyWindow.cpp" line="90"/>
        <source>cannot import: %1</source>
        <translation>无法导入：%1</translation>
    </message>
    <message>
        <location filename="../ClassroomKeyWindow.cpp" line="92"/>
        <source>cannot keep the imported key: %1</source>
        <translation>无法保存导入的密钥：%1</translation>
    </message>
    <message>
        <location filename="../ClassroomKeyWindow.cpp" line="97"/>
        <source>Imported from %1</source>
        <translation>已从 %1 导入</translation>
    </message>
    <message>
        <location filename="../ClassroomKeyWindow.cpp" line="103"/>
        <source>Export the classroom key pair</source>
        <translation>导出教室密钥对</translation>
    </message>
    <message>
        <location filename="../ClassroomKeyWindow.cpp" line="111"/>
        <source>Import a classroom key pair</source>
        <translation>导入教室密钥对</translation>
    </message>
    <message>
        <location filename="../ClassroomKeyWindow.cpp" line="114"/>
        <source>none</source>
        <translation>无</translation>
    </message>
    <message>
        <location filename="../ClassroomKeyWindow.cpp" line="117"/>
        <source>Replace this console&apos;s key (fingerprint %1)? Terminals that trust only that key will ignore this console&apos;s commands until their team.bin names the new one.</source>
        <translation>要替换本控制台的密钥（指纹 %1）吗？只信任该密钥的终端将忽略本控制台的命令，直到其 team.bin 指定新密钥。</translation>
    </message>
</context>
<context>
    <name>Console</name>
    <message>
        <location filename="../Console.cpp" line="93"/>
        <source>no group is present</source>
        <translation>没有在线的小组</translation>
    </message>
    <message>
        <location filename="../Console.cpp" line="95"/>
        <source>%1: not sent, %2</source>
        <translation>%1：未发送，%2</translation>
    </message>
    <message>
        <location filename="../Console.cpp" line="113"/>
        <source>group %1 (it takes signed commands and this console has no key)</source>
        <translation>第 %1 组（它只接受签名命令，而本控制台没有密钥）</translation>
    </message>
    <message>
        <location filename="../Console.cpp" line="118"/>
        <source>group %1 (the network refused to send)</source>
        <translation>第 %1 组（网络拒绝发送）</translation>
    </message>
    <message>
        <location filename="../Console.cpp" line="139"/>
        <source>%1: not sent</source>
        <translation>%1：未发送</translation>
    </message>
    <message>
        <location filename="../Console.cpp" line="140"/>
        <source>%1: sent to group %2</source>
        <translation>%1：已发送给第 %2 组</translation>
    </message>
    <message>
        <location filename="../Console.cpp" line="142"/>
        <source>not sent to %1</source>
        <translation>未发送给 %1</translation>
    </message>
    <message>
        <location filename="../Console.cpp" line="151"/>
        <source>Show the teacher&apos;s screen</source>
        <translation>显示教师屏幕</translation>
    </message>
    <message>
        <location filename="../Console.cpp" line="151"/>
        <source>Show group %1</source>
        <translation>显示第 %1 组</translation>
    </message>
    <message>
        <location filename="../Console.cpp" line="179"/>
        <location filename="../Console.cpp" line="184"/>
        <location filename="../Console.cpp" line="191"/>
        <source>Stop showing</source>
        <translation>停止显示</translation>
    </message>
    <message>
        <location filename="../Console.cpp" line="198"/>
        <source>Lock</source>
        <translation>锁定</translation>
    </message>
    <message>
        <location filename="../Console.cpp" line="205"/>
        <source>Unlock</source>
        <translation>解锁</translation>
    </message>
    <message>
        <location filename="../Console.cpp" line="223"/>
        <source>Group %1 has no name now</source>
        <translation>第 %1 组现在没有名称</translation>
    </message>
    <message>
        <location filename="../Console.cpp" line="224"/>
        <source>Group %1 is named %2</source>
        <translation>第 %1 组已命名为 %2</translation>
    </message>
    <message>
        <location filename="../Console.cpp" line="225"/>
        <source>The name is kept until the console ends: %1</source>
        <translation>名称仅保留到控制台退出：%1</translation>
    </message>
</context>
<context>
    <name>ConsoleWindow</name>
    <message>
        <location filename="../ConsoleWindow.cpp" line="29"/>
        <source>Tavlo console</source>
        <translation>Tavlo 控制台</translation>
    </message>
    <message>
        <location filename="../ConsoleWindow.cpp" line="35"/>
        <source>Teacher to all</source>
        <translation>教师屏幕给全部</translation>
    </message>
    <message>
        <location filename="../ConsoleWindow.cpp" line="36"/>
        <source>Show the teacher&apos;s screen on every group</source>
        <translation>在所有小组上显示教师屏幕</translation>
    </message>
    <message>
        <location filename="../ConsoleWindow.cpp" line="37"/>
        <location filename="../ConsoleWindow.cpp" line="114"/>
        <source>Stop all</source>
        <translation>全部停止</translation>
    </message>
    <message>
        <location filename="../ConsoleWindow.cpp" line="38"/>
        <source>Stop showing on every group</source>
        <translation>停止所有小组的显示</translation>
    </message>
    <message>
        <location filename="../ConsoleWindow.cpp" line="39"/>
        <location filename="../ConsoleWindow.cpp" line="119"/>
        <source>Lock all</source>
        <translation>全部锁定</translation>
    </message>
    <message>
        <location filename="../ConsoleWindow.cpp" line="40"/>
        <source>Cover every group&apos;s screen with a card and take its keyboard and mouse</source>
        <translation>用锁屏卡覆盖所有小组的屏幕，并接管其键盘和鼠标</translation>
    </message>
    <message>
        <location filename="../ConsoleWindow.cpp" line="41"/>
        <source>Unlock all</source>
        <translation>全部解锁</translation>
    </message>
    <message>
        <location filename="../ConsoleWindow.cpp" line="42"/>
        <source>Give every group its desktop back</source>
        <translation>把桌面还给所有小组</translation>
    </message>
    <message>
        <location filename="../ConsoleWindow.cpp" line="46"/>
        <source>What a locked screen says (empty: &quot;%1&quot;)</source>
        <translation>锁定屏幕上显示的文字（留空：“%1”）</translation>
    </message>
    <message>
        <location filename="../ConsoleWindow.cpp" line="49"/>
        <source>Classroom key…</source>
        <translation>教室密钥…</translation>
    </message>
    <message>
        <location filename="../ConsoleWindow.cpp" line="50"/>
        <source>The public key that terminals trust, its fingerprint, export and import</source>
        <translation>终端信任的公钥、其指纹、导出和导入</translation>
    </message>
    <message>
        <location filename="../ConsoleWindow.cpp" line="55"/>
        <source>Lock card:</source>
        <translation>锁屏文字：</translation>
    </message>
    <message>
        <location filename="../ConsoleWindow.cpp" line="64"/>
        <source>Show the teacher</source>
        <translation>显示教师屏幕</translation>
    </message>
    <message>
        <location filename="../ConsoleWindow.cpp" line="66"/>
        <source>Show a group&apos;s screen on the selected groups</source>
        <translation>在选中的小组上显示某组的屏幕</translation>
    </message>
    <message>
        <location filename="../ConsoleWindow.cpp" line="67"/>
        <source>Stop</source>
        <translation>停止</translation>
    </message>
    <message>
        <location filename="../ConsoleWindow.cpp" line="68"/>
        <source>Lock</source>
        <translation>锁定</translation>
    </message>
    <message>
        <location filename="../ConsoleWindow.cpp" line="69"/>
        <source>Unlock</source>
        <translation>解锁</translation>
    </message>
    <message>
        <location filename="../ConsoleWindow.cpp" line="70"/>
        <source>Clear selection</source>
        <translation>取消选择</translation>
    </message>
    <message>
        <location filename="../ConsoleWindow.cpp" line="71"/>
        <source>Show the teacher&apos;s screen on the selected groups</source>
        <translation>在选中的小组上显示教师屏幕</translation>
    </message>
    <message>
        <location filename="../ConsoleWindow.cpp" line="72"/>
        <source>Stop showing on the selected groups</source>
        <translation>停止选中小组的显示</translation>
    </message>
    <message>
        <location filename="../ConsoleWindow.cpp" line="73"/>
        <source>Lock the selected groups</source>
        <translation>锁定选中的小组</translation>
    </message>
    <message>
        <location filename="../ConsoleWindow.cpp" line="74"/>
        <source>Unlock the selected groups</source>
        <translation>解锁选中的小组</translation>
    </message>
    <message>
        <location filename="../ConsoleWindow.cpp" line="84"/>
        <source>Waiting for groups to announce themselves</source>
        <translation>正在等待小组上线</translation>
    </message>
    <message>
        <location filename="../ConsoleWindow.cpp" line="114"/>
        <source>Stop showing on every group?</source>
        <translation>要停止所有小组的显示吗？</translation>
    </message>
    <message>
        <location filename="../ConsoleWindow.cpp" line="118"/>
        <source>Lock every group&apos;s screen? The students cannot use their computers until you unlock them.</source>
        <translation>要锁定所有小组的屏幕吗？在您解锁之前，学生无法使用他们的电脑。</translation>
    </message>
    <message>
        <location filename="../ConsoleWindow.cpp" line="136"/>
        <source>Select all</source>
        <translation>全选</translation>
    </message>
    <message>
        <location filename="../ConsoleWindow.cpp" line="186"/>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <location filename="../ConsoleWindow.cpp" line="195"/>
        <source>Name group %1</source>
        <translation>为第 %1 组命名</translation>
    </message>
    <message>
        <location filename="../ConsoleWindow.cpp" line="196"/>
        <source>Name of group %1 (empty: no name):</source>
        <translation>第 %1 组的名称（留空：不命名）：</translation>
    </message>
    <message>
        <location filename="../ConsoleWindow.cpp" line="311"/>
        <source>No group selected (Ctrl+click or &quot;Select&quot; on a tile)</source>
        <translation>未选中小组（Ctrl+单击或勾选小组上的“选择”）</translation>
    </message>
    <message>
        <location filename="../ConsoleWindow.cpp" line="312"/>
        <source>Selected: group %1</source>
        <translation>已选中：第 %1 组</translation>
    </message>
    <message>
        <location filename="../ConsoleWindow.cpp" line="326"/>
        <source>Show group…</source>
        <translation>显示小组…</translation>
    </message>
    <message>
        <location filename="../ConsoleWindow.cpp" line="328"/>
        <source>Show group %1</source>
        <translation>显示第 %1 组</translation>
    </message>
</context>
<context>
    <name>GroupTile</name>
    <message>
        <location filename="../GroupTile.cpp" line="24"/>
        <location filename="../GroupTile.cpp" line="153"/>
        <source>no picture yet</source>
        <translation>尚无画面</translation>
    </message>
    <message>
        <location filename="../GroupTile.cpp" line="25"/>
        <source>Click for a closer look; Ctrl+click or Shift+click to select</source>
        <translation>单击可放大查看；Ctrl+单击或 Shift+单击可选择</translation>
    </message>
    <message>
        <location filename="../GroupTile.cpp" line="32"/>
        <source>Select</source>
        <translation>选择</translation>
    </message>
    <message>
        <location filename="../GroupTile.cpp" line="48"/>
        <source>Teacher</source>
        <translation>教师</translation>
    </message>
    <message>
        <location filename="../GroupTile.cpp" line="49"/>
        <source>Stop</source>
        <translation>停止</translation>
    </message>
    <message>
        <location filename="../GroupTile.cpp" line="50"/>
        <source>To all</source>
        <translation>给全部</translation>
    </message>
    <message>
        <location filename="../GroupTile.cpp" line="51"/>
        <source>Show the teacher&apos;s screen on this group</source>
        <translation>在此小组上显示教师屏幕</translation>
    </message>
    <message>
        <location filename="../GroupTile.cpp" line="52"/>
        <source>Stop showing on this group</source>
        <translation>停止此小组的显示</translation>
    </message>
    <message>
        <location filename="../GroupTile.cpp" line="53"/>
        <source>Show this group&apos;s screen on every other group</source>
        <translation>在其他所有小组上显示此小组的屏幕</translation>
    </message>
    <message>
        <location filename="../GroupTile.cpp" line="59"/>
        <location filename="../GroupTile.cpp" line="128"/>
        <source>Lock</source>
        <translation>锁定</translation>
    </message>
    <message>
        <location filename="../GroupTile.cpp" line="60"/>
        <source>Name…</source>
        <translation>命名…</translation>
    </message>
    <message>
        <location filename="../GroupTile.cpp" line="61"/>
        <source>Give this group a name</source>
        <translation>为此小组命名</translation>
    </message>
    <message>
        <location filename="../GroupTile.cpp" line="67"/>
        <source>Show another group&apos;s screen on this group</source>
        <translation>在此小组上显示另一组的屏幕</translation>
    </message>
    <message>
        <location filename="../GroupTile.cpp" line="100"/>
        <source>shows nothing</source>
        <translation>未显示内容</translation>
    </message>
    <message>
        <location filename="../GroupTile.cpp" line="101"/>
        <source>shows the teacher</source>
        <translation>显示教师屏幕</translation>
    </message>
    <message>
        <location filename="../GroupTile.cpp" line="102"/>
        <source>shows group %1</source>
        <translation>显示第 %1 组</translation>
    </message>
    <message>
        <location filename="../GroupTile.cpp" line="103"/>
        <source>%1, locked</source>
        <translation>%1，已锁定</translation>
    </message>
    <message>
        <location filename="../GroupTile.cpp" line="109"/>
        <source>Group %1</source>
        <translation>第 %1 组</translation>
    </message>
    <message>
        <location filename="../GroupTile.cpp" line="109"/>
        <source>Group %1: %2</source>
        <translation>第 %1 组：%2</translation>
    </message>
    <message>
        <location filename="../GroupTile.cpp" line="112"/>
        <source>(gone)</source>
        <translation>（已离线）</translation>
    </message>
    <message>
        <location filename="../GroupTile.cpp" line="114"/>
        <source>CONFLICT</source>
        <translation>冲突</translation>
    </message>
    <message>
        <location filename="../GroupTile.cpp" line="120"/>
        <source>also announced by %1: ignored</source>
        <translation>%1 也声明了此组号：已忽略</translation>
    </message>
    <message>
        <location filename="../GroupTile.cpp" line="121"/>
        <source>Another computer announces this group&apos;s number. Commands and the thumbnail keep to the address heard first, %1.</source>
        <translation>另一台电脑声明了此小组的组号。命令和缩略图仍使用最先收到的地址 %1。</translation>
    </message>
    <message>
        <location filename="../GroupTile.cpp" line="125"/>
        <source>%1:%2, %3 s ago</source>
        <translation>%1:%2，%3 秒前</translation>
    </message>
    <message>
        <location filename="../GroupTile.cpp" line="127"/>
        <source>commands not authenticated</source>
        <translation>命令未经认证</translation>
    </message>
    <message>
        <location filename="../GroupTile.cpp" line="127"/>
        <source>commands signed</source>
        <translation>命令已签名</translation>
    </message>
    <message>
        <location filename="../GroupTile.cpp" line="128"/>
        <source>Unlock</source>
        <translation>解锁</translation>
    </message>
    <message>
        <location filename="../GroupTile.cpp" line="129"/>
        <source>Give this group its desktop back</source>
        <translation>把桌面还给此小组</translation>
    </message>
    <message>
        <location filename="../GroupTile.cpp" line="130"/>
        <source>Cover this group&apos;s screen with a card and take its keyboard and mouse</source>
        <translation>用锁屏卡覆盖此小组的屏幕，并接管其键盘和鼠标</translation>
    </message>
    <message>
        <location filename="../GroupTile.cpp" line="143"/>
        <source>Show group…</source>
        <translation>显示小组…</translation>
    </message>
    <message>
        <location filename="../GroupTile.cpp" line="145"/>
        <source>Show group %1</source>
        <translation>显示第 %1 组</translation>
    </message>
    <message>
        <location filename="../GroupTile.cpp" line="175"/>
        <source>%1, retrying</source>
        <translation>%1，正在重试</translation>
    </message>
    <message>
        <location filename="../GroupTile.cpp" line="181"/>
        <source>cannot open: %1</source>
        <translation>无法打开：%1</translation>
    </message>
    <message>
        <location filename="../GroupTile.cpp" line="182"/>
        <source>stream ended: %1</source>
        <translation>视频流结束：%1</translation>
    </message>
    <message>
        <location filename="../GroupTile.cpp" line="183"/>
        <source>no stream information: %1</source>
        <translation>没有视频流信息：%1</translation>
    </message>
    <message>
        <location filename="../GroupTile.cpp" line="184"/>
        <source>cannot open the decoder: %1</source>
        <translation>无法打开解码器：%1</translation>
    </message>
    <message>
        <location filename="../GroupTile.cpp" line="190"/>
        <source>connecting</source>
        <translation>正在连接</translation>
    </message>
    <message>
        <location filename="../GroupTile.cpp" line="191"/>
        <source>no answer</source>
        <translation>无应答</translation>
    </message>
    <message>
        <location filename="../GroupTile.cpp" line="192"/>
        <source>stream stalled</source>
        <translation>视频流中断</translation>
    </message>
    <message>
        <location filename="../GroupTile.cpp" line="193"/>
        <source>no video stream</source>
        <translation>没有视频流</translation>
    </message>
    <message>
        <location filename="../GroupTile.cpp" line="194"/>
        <source>no decoder for the stream</source>
        <translation>没有适用于此视频流的解码器</translation>
    </message>
    <message>
        <location filename="../GroupTile.cpp" line="195"/>
        <source>cannot set up the decoder</source>
        <translation>无法设置解码器</translation>
    </message>
    <message>
        <location filename="../GroupTile.cpp" line="196"/>
        <source>cannot scale the picture</source>
        <translation>无法缩放画面</translation>
    </message>
    <message>
        <location filename="../GroupTile.cpp" line="197"/>
        <source>out of memory</source>
        <translation>内存不足</translation>
    </message>
    <message>
        <location filename="../GroupTile.cpp" line="198"/>
        <source>no stream: the group is gone</source>
        <translation>没有视频流：该小组已离线</translation>
    </message>
</context>
<context>
    <name>LookCloserWindow</name>
    <message>
        <location filename="../LookCloserWindow.cpp" line="31"/>
        <source>connecting</source>
        <translation>正在连接</translation>
    </message>
    <message>
        <location filename="../LookCloserWindow.cpp" line="35"/>
        <source>Show this to all</source>
        <translation>展示给全部</translation>
    </message>
    <message>
        <location filename="../LookCloserWindow.cpp" line="36"/>
        <source>Show this group&apos;s screen on every other group</source>
        <translation>在其他所有小组上显示此小组的屏幕</translation>
    </message>
    <message>
        <location filename="../LookCloserWindow.cpp" line="37"/>
        <source>Close</source>
        <translation>关闭</translation>
    </message>
    <message>
        <location filename="../LookCloserWindow.cpp" line="55"/>
        <source>Close (Esc)</source>
        <translation>关闭（Esc）</translation>
    </message>
    <message>
        <location filename="../LookCloserWindow.cpp" line="67"/>
        <source>Group %1 (closer look)</source>
        <translation>第 %1 组（放大查看）</translation>
    </message>
    <message>
        <location filename="../LookCloserWindow.cpp" line="68"/>
        <source>Group %1: %2 (closer look)</source>
        <translation>第 %1 组：%2（放大查看）</translation>
    </message>
    <message>
        <location filename="../LookCloserWindow.cpp" line="89"/>
        <source>live</source>
        <translation>实时</translation>
    </message>
</context>
</TS>
