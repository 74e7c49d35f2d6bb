<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>CoreText</name>
    <message>
        <source>无法打开所选文件！</source>
        <translation>Cannot open the selected file!</translation>
    </message>
    <message>
        <source>没有未读文件！</source>
        <translation>There are no unread files!</translation>
    </message>
    <message>
        <source>对不起，没有找到你要的文件！</source>
        <translation>Sorry, the file you are looking for was not found!</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>无法使用数据目录 %1：%2</source>
        <translation>The data directory %1 cannot be used: %2</translation>
    </message>
</context>
<context>
    <name>orvane::CAboutDlg</name>
    <message>
        <source>关于 Orvane</source>
        <translation>About Orvane</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>作者</source>
        <translation>Author</translation>
    </message>
    <message>
        <source>Orvane 开发者</source>
        <translation>The Orvane developers</translation>
    </message>
    <message>
        <source>主页</source>
        <translation>Home page</translation>
    </message>
    <message>
        <source>无</source>
        <translation>None</translation>
    </message>
    <message>
        <source>邮箱</source>
        <translation>Mail</translation>
    </message>
</context>
<context>
    <name>orvane::CCloseDlg</name>
    <message>
        <source>正在关闭连接,请稍候</source>
        <translation>Closing connections, please wait</translation>
    </message>
</context>
<context>
    <name>orvane::CDialogSeam</name>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>是</source>
        <translation>Yes</translation>
    </message>
    <message>
        <source>否</source>
        <translation>No</translation>
    </message>
</context>
<context>
    <name>orvane::CDirTreeModel</name>
    <message>
        <source>未更新</source>
        <translation>Not updated</translation>
    </message>
    <message>
        <source>正在等待更新...</source>
        <translation>Waiting to update...</translation>
    </message>
    <message>
        <source>正在连接...</source>
        <translation>Connecting...</translation>
    </message>
    <message>
        <source>已连接,正在更新...</source>
        <translation>Connected, updating...</translation>
    </message>
    <message>
        <source>更新成功</source>
        <translation>Update succeeded</translation>
    </message>
    <message>
        <source>更新失败:
%1</source>
        <translation>Update failed:
%1</translation>
    </message>
    <message>
        <source>更新失败:
创建Internet会话失败</source>
        <translation>Update failed:
the FTP session could not be created</translation>
    </message>
    <message>
        <source>更新终止！</source>
        <translation>Update stopped!</translation>
    </message>
    <message>
        <source>更新终止!</source>
        <translation>Update stopped before it began!</translation>
    </message>
    <message>
        <source>更新意外终止:
%1</source>
        <translation>Update broke off:
%1</translation>
    </message>
    <message>
        <source>更新意外终止:
%1	等待继续更新</source>
        <translation>Update broke off:
%1	waiting to continue</translation>
    </message>
    <message>
        <source>未能进入的目录: %1</source>
        <translation>Directories not entered: %1</translation>
    </message>
    <message>
        <source>未读完的目录列表: %1</source>
        <translation>Listings not read completely: %1</translation>
    </message>
    <message>
        <source>跳过的名称: %1</source>
        <translation>Names skipped: %1</translation>
    </message>
    <message>
        <source>已列出 %1 个目录, %2 个条目</source>
        <translation>%1 directories, %2 entries listed so far</translation>
    </message>
    <message>
        <source>服务器拒绝连接（该主机和端口上没有FTP服务器在运行）</source>
        <translation>The server refused the connection (no FTP server is running at this host and port)</translation>
    </message>
    <message>
        <source>连接超时，服务器没有应答</source>
        <translation>Timed out: the server did not answer</translation>
    </message>
    <message>
        <source>服务器拒绝登录，请检查用户名和密码</source>
        <translation>The server refused the login; check the user name and password</translation>
    </message>
    <message>
        <source>找不到主机</source>
        <translation>Host not found</translation>
    </message>
    <message>
        <source>服务器关闭了连接</source>
        <translation>The server closed the connection</translation>
    </message>
    <message>
        <source>服务器拒绝了命令或回复无法识别</source>
        <translation>The server refused a command or sent a reply that could not be understood</translation>
    </message>
    <message>
        <source>另一个程序正在更新这个站点</source>
        <translation>Another program is updating this site</translation>
    </message>
    <message>
        <source>详细信息: %1</source>
        <translation>Details: %1</translation>
    </message>
</context>
<context>
    <name>orvane::CDirView</name>
    <message>
        <source>显示更新</source>
        <translation>Show updates</translation>
    </message>
    <message>
        <source>更新</source>
        <translation>Update</translation>
    </message>
    <message>
        <source>设置已读</source>
        <translation>Mark read</translation>
    </message>
    <message>
        <source>编辑站点</source>
        <translation>Edit site</translation>
    </message>
    <message>
        <source>删除站点</source>
        <translation>Delete site</translation>
    </message>
    <message>
        <source>复制路径</source>
        <translation>Copy path</translation>
    </message>
</context>
<context>
    <name>orvane::CFileListModel</name>
    <message>
        <source>欢迎使用Orvane!</source>
        <translation>Welcome to Orvane!</translation>
    </message>
    <message>
        <source>点击增加可以添加站点</source>
        <translation>Click Add to add a site</translation>
    </message>
    <message>
        <source>点击更新可以更新站点</source>
        <translation>Click Update to update a site</translation>
    </message>
    <message>
        <source>选择左边站点可以查看站点内容</source>
        <translation>Choose a site on the left to see its contents</translation>
    </message>
    <message>
        <source>文件</source>
        <translation>File</translation>
    </message>
    <message>
        <source>大小</source>
        <translation>Size</translation>
    </message>
    <message>
        <source>地址</source>
        <translation>Address</translation>
    </message>
    <message numerus="yes">
        <source>%n字节</source>
        <translation>
            <numerusform>%n byte</numerusform>
            <numerusform>%n bytes</numerusform>
        </translation>
    </message>
    <message>
        <source>%1 字节</source>
        <translation>%1 bytes</translation>
    </message>
</context>
<context>
    <name>orvane::CFrameFollow</name>
    <message numerus="yes">
        <source>%n 项，共 %1</source>
        <translation>
            <numerusform>%n entry, %1 in all</numerusform>
            <numerusform>%n entries, %1 in all</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>已复制 %n 个地址</source>
        <translation>
            <numerusform>%n address copied</numerusform>
            <numerusform>%n addresses copied</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>orvane::CFindDialog</name>
    <message>
        <source>查找</source>
        <translation>Find</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>请输入查找关键词:</source>
        <translation>Please enter the search keyword:</translation>
    </message>
</context>
<context>
    <name>orvane::CMainFrame</name>
    <message>
        <source>导入</source>
        <translation>Import</translation>
    </message>
    <message>
        <source>退出(&amp;X)</source>
        <translation>E&amp;xit</translation>
    </message>
    <message>
        <source>添加站点</source>
        <translation>Add site</translation>
    </message>
    <message>
        <source>增加站点</source>
        <translation>Add a site</translation>
    </message>
    <message>
        <source>编辑站点</source>
        <translation>Edit site</translation>
    </message>
    <message>
        <source>删除站点</source>
        <translation>Delete site</translation>
    </message>
    <message>
        <source>工具栏(&amp;T)</source>
        <translation>&amp;Toolbar</translation>
    </message>
    <message>
        <source>状态栏(&amp;S)</source>
        <translation>&amp;Status bar</translation>
    </message>
    <message>
        <source>前进</source>
        <translation>Forward</translation>
    </message>
    <message>
        <source>后退</source>
        <translation>Back</translation>
    </message>
    <message>
        <source>向上</source>
        <translation>Up</translation>
    </message>
    <message>
        <source>切换浏览/搜索</source>
        <translation>Switch browse/search</translation>
    </message>
    <message>
        <source>切换浏览/搜索窗口</source>
        <translation>Switch between browsing and search results</translation>
    </message>
    <message>
        <source>更新</source>
        <translation>Update</translation>
    </message>
    <message>
        <source>更新所选站点</source>
        <translation>Update the selected site</translation>
    </message>
    <message>
        <source>更新全部</source>
        <translation>Update all</translation>
    </message>
    <message>
        <source>更新所有站点</source>
        <translation>Update every site</translation>
    </message>
    <message>
        <source>终止更新</source>
        <translation>Stop updates</translation>
    </message>
    <message>
        <source>搜索</source>
        <translation>Search</translation>
    </message>
    <message>
        <source>显示未读文件</source>
        <translation>Show unread files</translation>
    </message>
    <message>
        <source>显示这次更新的文件</source>
        <translation>Show the files of this update</translation>
    </message>
    <message>
        <source>显示所有未读文件</source>
        <translation>Show all unread files</translation>
    </message>
    <message>
        <source>显示所有更新的文件</source>
        <translation>Show every updated file</translation>
    </message>
    <message>
        <source>设置已读(Alt+D)</source>
        <translation>Mark read (Alt+D)</translation>
    </message>
    <message>
        <source>设置当前显示的文件已读</source>
        <translation>Mark the shown files read</translation>
    </message>
    <message>
        <source>设置全部已读</source>
        <translation>Mark this update read</translation>
    </message>
    <message>
        <source>设置这次更新的文件已读</source>
        <translation>Mark the files of this update read</translation>
    </message>
    <message>
        <source>设置所有为已读</source>
        <translation>Mark everything read</translation>
    </message>
    <message>
        <source>设置所有未读的文件已读</source>
        <translation>Mark every unread file read</translation>
    </message>
    <message>
        <source>设置(&amp;S)</source>
        <translation>&amp;Settings</translation>
    </message>
    <message>
        <source>帮助(&amp;H)</source>
        <translation>&amp;Help</translation>
    </message>
    <message>
        <source>关于 Orvane(&amp;A)...</source>
        <translation>&amp;About Orvane...</translation>
    </message>
    <message>
        <source>已读</source>
        <translation>Read</translation>
    </message>
    <message>
        <source>切换</source>
        <translation>Switch</translation>
    </message>
    <message>
        <source>编辑</source>
        <translation>Edit</translation>
    </message>
    <message>
        <source>增加</source>
        <translation>Add</translation>
    </message>
    <message>
        <source>文件(&amp;F)</source>
        <translation>&amp;File</translation>
    </message>
    <message>
        <source>编辑(&amp;E)</source>
        <translation>&amp;Edit</translation>
    </message>
    <message>
        <source>视图(&amp;V)</source>
        <translation>&amp;View</translation>
    </message>
    <message>
        <source>操作(&amp;O)</source>
        <translation>&amp;Actions</translation>
    </message>
    <message>
        <source>工具栏</source>
        <translation>Toolbar</translation>
    </message>
    <message>
        <source>就绪</source>
        <translation>Ready</translation>
    </message>
    <message>
        <source>文件路径已复制到剪贴板上，粘贴到FTP软件或浏览器中即可。</source>
        <translation>The file path is on the clipboard; paste it into an FTP program or a browser.</translation>
    </message>
    <message numerus="yes">
        <source>%n 个文件路径已复制到剪贴板上（每行一个），粘贴到FTP软件或浏览器中即可。</source>
        <translation>
            <numerusform>%n file path is on the clipboard (one a line); paste it into an FTP program or a browser.</numerusform>
            <numerusform>%n file paths are on the clipboard (one a line); paste them into an FTP program or a browser.</numerusform>
        </translation>
    </message>
    <message>
        <source>站点列表无法写入 %1，这次的改动只保留到程序退出。</source>
        <translation>The site list could not be written to %1; this change lasts only until the program ends.</translation>
    </message>
    <message>
        <source>站点已有！</source>
        <translation>The site already exists!</translation>
    </message>
    <message>
        <source>警告</source>
        <translation>Warning</translation>
    </message>
    <message>
        <source>是否确定要删除站点“%1”?</source>
        <translation>Delete the site “%1”?</translation>
    </message>
    <message>
        <source>没有程序能打开这个地址：
%1
要把它复制到剪贴板上吗？</source>
        <translation>No program on this system opens the address
%1
Copy it to the clipboard?</translation>
    </message>
    <message>
        <source>站点正在更新，请在更新结束后再编辑。</source>
        <translation>The site is being updated; edit it when the update has ended.</translation>
    </message>
    <message>
        <source>更新完成</source>
        <translation>Update finished</translation>
    </message>
    <message>
        <source>更新%1/%2</source>
        <translation>Updating %1/%2</translation>
    </message>
    <message>
        <source>无法使用剪贴板，路径没有复制。</source>
        <translation>The clipboard cannot be used; the path was not copied.</translation>
    </message>
    <message>
        <source>站点已有！已有一个站点的主机“%1”和用户名“%2”与此相同。</source>
        <translation>The site already exists! A site with the host “%1” and the user name “%2” is in the list already.</translation>
    </message>
    <message numerus="yes">
        <source>添加了 %n 个站点</source>
        <translation>
            <numerusform>%n site added</numerusform>
            <numerusform>%n sites added</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n 个已有</source>
        <translation>
            <numerusform>%n already there</numerusform>
            <numerusform>%n already there</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>跳过 %n 行</source>
        <translation>
            <numerusform>%n line skipped</numerusform>
            <numerusform>%n lines skipped</numerusform>
        </translation>
    </message>
    <message>
        <source>（第 %1 行）</source>
        <translation> (lines %1)</translation>
    </message>
    <message>
        <source>、</source>
        <translation>, </translation>
    </message>
    <message>
        <source>，</source>
        <translation>, </translation>
    </message>
    <message>
        <source>导入完成：%1</source>
        <translation>Import finished: %1</translation>
    </message>
    <message numerus="yes">
        <source>%n 个站点失败</source>
        <translation>
            <numerusform>%n site failed</numerusform>
            <numerusform>%n sites failed</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n 个站点被终止</source>
        <translation>
            <numerusform>%n site stopped</numerusform>
            <numerusform>%n sites stopped</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n 个站点未能完整获取</source>
        <translation>
            <numerusform>%n site only partly fetched</numerusform>
            <numerusform>%n sites only partly fetched</numerusform>
        </translation>
    </message>
    <message>
        <source>更新结束：%1</source>
        <translation>Update ended: %1</translation>
    </message>
    <message>
        <source>文本文件 (*.txt)</source>
        <translation>Text files (*.txt)</translation>
    </message>
    <message>
        <source>所有文件 (*)</source>
        <translation>All files (*)</translation>
    </message>
</context>
<context>
    <name>orvane::COrvaneView</name>
    <message>
        <source>复制路径</source>
        <translation>Copy path</translation>
    </message>
    <message>
        <source>在文件夹中显示</source>
        <translation>Show in folder</translation>
    </message>
</context>
<context>
    <name>orvane::CRunNotifier</name>
    <message numerus="yes">
        <source>%n 个站点已更新</source>
        <translation>
            <numerusform>%n site updated</numerusform>
            <numerusform>%n sites updated</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>新增 %n 项</source>
        <translation>
            <numerusform>%n entry added</numerusform>
            <numerusform>%n entries added</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>删除 %n 项</source>
        <translation>
            <numerusform>%n removed</numerusform>
            <numerusform>%n removed</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n 项匹配关注词</source>
        <translation>
            <numerusform>%n watch word match</numerusform>
            <numerusform>%n watch word matches</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n 个站点失败</source>
        <translation>
            <numerusform>%n site failed</numerusform>
            <numerusform>%n sites failed</numerusform>
        </translation>
    </message>
    <message>
        <source>，</source>
        <translation>, </translation>
    </message>
    <message>
        <source>显示变化</source>
        <translation>Show changes</translation>
    </message>
</context>
<context>
    <name>orvane::CSearchDialog</name>
    <message>
        <source>正在搜索...</source>
        <translation>Searching...</translation>
    </message>
    <message>
        <source>停止</source>
        <translation>Stop</translation>
    </message>
</context>
<context>
    <name>orvane::CSiteDlg</name>
    <message>
        <source>服务器</source>
        <translation>Server</translation>
    </message>
    <message>
        <source>匿名</source>
        <translation>Anonymous</translation>
    </message>
    <message>
        <source>是否匿名更新站点内容</source>
        <translation>Update the site's content anonymously</translation>
    </message>
    <message>
        <source>站点</source>
        <translation>Site</translation>
    </message>
    <message>
        <source>用户名</source>
        <translation>User name</translation>
    </message>
    <message>
        <source>密码</source>
        <translation>Password</translation>
    </message>
    <message>
        <source>端口号</source>
        <translation>Port</translation>
    </message>
    <message>
        <source>站点昵称:</source>
        <translation>Nickname:</translation>
    </message>
    <message>
        <source>备注:</source>
        <translation>Remarks:</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>端口号必须是 1 到 65535 之间的整数。</source>
        <translation>The port must be a whole number from 1 to 65535.</translation>
    </message>
    <message>
        <source>请输入站点地址。</source>
        <translation>Please enter the site's address.</translation>
    </message>
    <message>
        <source>站点地址不能包含空格、“/”、“@”或控制字符。</source>
        <translation>The site address cannot contain spaces, "/", "@" or control characters.</translation>
    </message>
    <message>
        <source>“%1”中的字符无法保存（站点列表使用 GBK 编码）：%2</source>
        <translation>"%1" holds characters the site list cannot store (it uses the GBK encoding): %2</translation>
    </message>
</context>
<context>
    <name>orvane::CSplash</name>
    <message>
        <source>离线浏览FTP站点的内容</source>
        <translation>Browse the contents of FTP sites offline</translation>
    </message>
</context>
<context>
    <name>orvane::CTrayIcon</name>
    <message>
        <source>显示窗口</source>
        <translation>Show window</translation>
    </message>
    <message>
        <source>立即更新</source>
        <translation>Update now</translation>
    </message>
    <message>
        <source>退出</source>
        <translation>Quit</translation>
    </message>
</context>
<context>
    <name>orvane::CUpdateNumSet</name>
    <message>
        <source>设置更新线程</source>
        <translation>Update threads</translation>
    </message>
    <message>
        <source>设置更新线程数：</source>
        <translation>Number of update threads:</translation>
    </message>
    <message>
        <source>每个站点的连接数：</source>
        <translation>Connections per site:</translation>
    </message>
    <message>
        <source>最多同时打开 %1 个连接</source>
        <translation>At most %1 connections open at once</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>请输入一个整数。</source>
        <translation>Please enter an integer.</translation>
    </message>
    <message>
        <source>请输入 %1 到 %2 之间的整数。</source>
        <translation>Please enter an integer between %1 and %2.</translation>
    </message>
    <message>
        <source>定时更新所有站点，每隔（小时）：</source>
        <translation>Update all sites every (hours):</translation>
    </message>
    <message>
        <source>启动时更新所有站点，如果上次更新早于（小时）：</source>
        <translation>Update all sites at start when the last update is older than (hours):</translation>
    </message>
    <message>
        <source>更新结束时显示桌面通知</source>
        <translation>Show a desktop notification when an update run ends</translation>
    </message>
    <message>
        <source>自动更新</source>
        <translation>Automatic updates</translation>
    </message>
</context>
<context>
    <name>orvane::CHelpBrowser</name>
    <message>
        <source>Orvane 帮助</source>
        <translation>Orvane Help</translation>
    </message>
</context>
</TS>
