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
        <source>CSV 文件 (*.csv)</source>
        <translation>CSV files (*.csv)</translation>
    </message>
    <message>
        <source>JSON 文件 (*.json)</source>
        <translation>JSON files (*.json)</translation>
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
        <source>服务器的证书或主机密钥不受信任，什么也没有发送给它</source>
        <translation>The server's certificate or host key is not trusted; nothing was sent to it</translation>
    </message>
    <message>
        <source>协议：%1</source>
        <translation>Protocol: %1</translation>
    </message>
    <message>
        <source>已接受的服务器密钥：%1</source>
        <translation>Accepted server key: %1</translation>
    </message>
    <message>
        <source>正在读取…</source>
        <translation>Reading…</translation>
    </message>
    <message>
        <source>文件名编码：%1</source>
        <translation>Name encoding: %1</translation>
    </message>
    <message>
        <source>文件名编码：%1（自动）</source>
        <translation>Name encoding: %1 (automatic)</translation>
    </message>
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
        <source>站点正在更新，请在更新结束后再接受它的密钥。</source>
        <translation>The site is being updated; accept its key once the update has ended.</translation>
    </message>
    <message>
        <source>密钥无法保存（%1），站点保持原样。</source>
        <translation>The key could not be saved (%1); the site stays as it was.</translation>
    </message>
    <message>
        <source>即时查找(&amp;K)</source>
        <translation>Find as You &amp;Type</translation>
    </message>
    <message>
        <source>边输入边查找所有站点的目录</source>
        <translation>Find in every catalog as you type</translation>
    </message>
    <message>
        <source>设置无法保存：
%1</source>
        <translation>The settings could not be saved:
%1</translation>
    </message>
    <message>
        <source>变化(&amp;C)</source>
        <translation>&amp;Changes</translation>
    </message>
    <message>
        <source>显示各站点每次更新新增、删除和改变大小的文件</source>
        <translation>Show the files each update of each site added, removed and resized</translation>
    </message>
    <message>
        <source>关注词(&amp;W)...</source>
        <translation>&amp;Watch words...</translation>
    </message>
    <message>
        <source>编辑在变化中突出显示的关注词</source>
        <translation>Edit the watch words highlighted among the changes</translation>
    </message>
    <message>
        <source>变化</source>
        <translation>Changes</translation>
    </message>
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
        <source>站点概况(&amp;O)</source>
        <translation>Sites &amp;Overview</translation>
    </message>
    <message>
        <source>显示所有站点的更新情况</source>
        <translation>Show how every site's updates have fared</translation>
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
    <message>
        <source>搜索: %1</source>
        <translation>Search: %1</translation>
    </message>
    <message>
        <source>本次更新的新文件</source>
        <translation>New in the last update</translation>
    </message>
    <message>
        <source>所有站点的新文件</source>
        <translation>New files of all sites</translation>
    </message>
    <message>
        <source>更新: %1</source>
        <translation>Updates: %1</translation>
    </message>
    <message>
        <source>已读标记无法保存：
%1</source>
        <translation>The read marks cannot be saved:
%1</translation>
    </message>
    <message>
        <source>无法保存这次的改动（%1），站点保持原样。</source>
        <translation>This change cannot be saved (%1); the site stays as it was.</translation>
    </message>
    <message>
        <source>新站点的数据目录已有文件（%1），站点保持原样。</source>
        <translation>The new site&apos;s data directory already holds files (%1); the site stays as it was.</translation>
    </message>
    <message>
        <source>删除没有完成：%1</source>
        <translation>The site was not deleted completely: %1</translation>
    </message>
    <message>
        <source>正在更新：%1/%2 个站点</source>
        <translation>Updating: %1 of %2 sites</translation>
    </message>
    <message>
        <source>上次更新：%1</source>
        <translation>Last update: %1</translation>
    </message>
    <message>
        <source>上次更新：从未</source>
        <translation>Last update: never</translation>
    </message>
    <message>
        <source>下次更新：%1</source>
        <translation>Next update: %1</translation>
    </message>
    <message>
        <source>下次更新：现在</source>
        <translation>Next update: now</translation>
    </message>
    <message>
        <source>下次更新：未安排</source>
        <translation>Next update: none scheduled</translation>
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
    <message>
        <source>打开</source>
        <translation>Open</translation>
    </message>
    <message>
        <source>设置已读</source>
        <translation>Mark read</translation>
    </message>
    <message>
        <source>显示更新</source>
        <translation>Show updates</translation>
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
    <message>
        <source>，</source>
        <translation>, </translation>
    </message>
    <message>
        <source>显示变化</source>
        <translation>Show changes</translation>
    </message>
    <message numerus="yes">
        <source>%n 个站点未能完整获取</source>
        <translation>
            <numerusform>%n site fetched in part</numerusform>
            <numerusform>%n sites fetched in part</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n 个站点更新失败</source>
        <translation>
            <numerusform>%n site failed to update</numerusform>
            <numerusform>%n sites failed to update</numerusform>
        </translation>
    </message>
    <message>
        <source>更新结束</source>
        <translation>Update run ended</translation>
    </message>
    <message numerus="yes">
        <source>大小改变 %n 项</source>
        <translation>
            <numerusform>%n resized</numerusform>
            <numerusform>%n resized</numerusform>
        </translation>
    </message>
    <message>
        <source>失败：%1</source>
        <translation>Failed: %1</translation>
    </message>
    <message>
        <source>、</source>
        <translation>, </translation>
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
    <name>orvane::CSitesOverview</name>
    <message>
        <source>站点概况</source>
        <translation>Sites Overview</translation>
    </message>
</context>
<context>
    <name>orvane::CSitesOverviewModel</name>
    <message>
        <source>站点</source>
        <translation>Site</translation>
    </message>
    <message>
        <source>地址</source>
        <translation>Address</translation>
    </message>
    <message>
        <source>上次更新</source>
        <translation>Last update</translation>
    </message>
    <message>
        <source>用时</source>
        <translation>Duration</translation>
    </message>
    <message>
        <source>项数</source>
        <translation>Entries</translation>
    </message>
    <message>
        <source>大小</source>
        <translation>Size</translation>
    </message>
    <message>
        <source>新项</source>
        <translation>New</translation>
    </message>
    <message>
        <source>上次错误</source>
        <translation>Last error</translation>
    </message>
    <message>
        <source>出错时间</source>
        <translation>Error time</translation>
    </message>
    <message>
        <source>从未更新</source>
        <translation>never updated</translation>
    </message>
</context>
<context>
    <name>orvane::CSiteDlg</name>
    <message>
        <source>FTP（不加密）</source>
        <translation>FTP (not encrypted)</translation>
    </message>
    <message>
        <source>FTPES（显式 TLS，必须加密）</source>
        <translation>FTPES (explicit TLS, required)</translation>
    </message>
    <message>
        <source>FTPS（隐式 TLS）</source>
        <translation>FTPS (implicit TLS)</translation>
    </message>
    <message>
        <source>SFTP（SSH）</source>
        <translation>SFTP (SSH)</translation>
    </message>
    <message>
        <source>站点目录从服务器上的这个目录开始，例如 /pub</source>
        <translation>The site's catalog begins at this directory on the server, such as /pub</translation>
    </message>
    <message>
        <source>用这个私钥文件登录 SFTP 站点；密码一栏填写密钥的密码短语</source>
        <translation>Log in to the SFTP site with this private key file; the password field holds the key's passphrase</translation>
    </message>
    <message>
        <source>浏览...</source>
        <translation>Browse...</translation>
    </message>
    <message>
        <source>协议</source>
        <translation>Protocol</translation>
    </message>
    <message>
        <source>起始目录</source>
        <translation>Start directory</translation>
    </message>
    <message>
        <source>密钥文件</source>
        <translation>Key file</translation>
    </message>
    <message>
        <source>选择私钥文件</source>
        <translation>Choose a private key file</translation>
    </message>
    <message>
        <source>起始目录必须是以“/”开头的服务器目录，不能含有“.”或“..”。</source>
        <translation>The start directory must be a server directory beginning with &quot;/&quot;, without &quot;.&quot; or &quot;..&quot;.</translation>
    </message>
    <message>
        <source>找不到密钥文件“%1”。</source>
        <translation>The key file &quot;%1&quot; cannot be found.</translation>
    </message>
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
        <source>自动</source>
        <translation>Automatic</translation>
    </message>
    <message>
        <source>文件名编码</source>
        <translation>Name encoding</translation>
    </message>
    <message>
        <source>自动（当前：%1）</source>
        <translation>Automatic (now: %1)</translation>
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
    <message>
        <source>站点昵称</source>
        <translation>Nickname</translation>
    </message>
    <message>
        <source>备注</source>
        <translation>Remarks</translation>
    </message>
    <message>
        <source>站点地址必须是主机名、IPv4 地址或 IPv6 地址。</source>
        <translation>The site address must be a host name, an IPv4 address or an IPv6 address.</translation>
    </message>
    <message>
        <source>“%1”不能包含换行符或空字符。</source>
        <translation>“%1” cannot contain a line break or a null character.</translation>
    </message>
    <message>
        <source>站点地址和用户名太长，无法作为数据目录的名称。</source>
        <translation>The site address and user name are too long to name the site&apos;s data directory.</translation>
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
        <source>变化记录</source>
        <translation>Change journal</translation>
    </message>
    <message>
        <source>每个站点保留最近的更新次数：</source>
        <translation>Updates kept per site:</translation>
    </message>
    <message>
        <source>每个站点最多占用（MB）：</source>
        <translation>At most per site (MB):</translation>
    </message>
    <message>
        <source>自动更新</source>
        <translation>Automatic updates</translation>
    </message>
    <message>
        <source>更新设置</source>
        <translation>Update settings</translation>
    </message>
    <message>
        <source>更新有变化或失败时显示桌面通知</source>
        <translation>Show a desktop notification when an update run changes something or fails</translation>
    </message>
    <message>
        <source>没有变化也通知</source>
        <translation>Also when nothing changed</translation>
    </message>
</context>
<context>
    <name>orvane::CHealthText</name>
    <message>
        <source>服务器的密钥不受信任</source>
        <translation>The server's key is not trusted</translation>
    </message>
    <message>
        <source>刚刚</source>
        <translation>just now</translation>
    </message>
    <message numerus="yes">
        <source>%n 分钟前</source>
        <translation>
            <numerusform>%n minute ago</numerusform>
            <numerusform>%n minutes ago</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n 小时前</source>
        <translation>
            <numerusform>%n hour ago</numerusform>
            <numerusform>%n hours ago</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n 天前</source>
        <translation>
            <numerusform>%n day ago</numerusform>
            <numerusform>%n days ago</numerusform>
        </translation>
    </message>
    <message>
        <source>%1 秒</source>
        <translation>%1 s</translation>
    </message>
    <message>
        <source>%1 分 %2 秒</source>
        <translation>%1 min %2 s</translation>
    </message>
    <message>
        <source>%1 小时 %2 分</source>
        <translation>%1 h %2 min</translation>
    </message>
    <message>
        <source>连接被拒绝</source>
        <translation>connection refused</translation>
    </message>
    <message>
        <source>服务器没有及时回答</source>
        <translation>the server did not answer in time</translation>
    </message>
    <message>
        <source>服务器拒绝登录</source>
        <translation>login refused</translation>
    </message>
    <message>
        <source>找不到主机</source>
        <translation>host not found</translation>
    </message>
    <message>
        <source>服务器关闭了连接</source>
        <translation>the server closed the connection</translation>
    </message>
    <message>
        <source>服务器拒绝了命令</source>
        <translation>the server refused a command</translation>
    </message>
    <message>
        <source>创建Internet会话失败</source>
        <translation>the FTP session could not be created</translation>
    </message>
    <message>
        <source>更新意外终止</source>
        <translation>the update broke off</translation>
    </message>
    <message>
        <source>保存目录失败</source>
        <translation>the catalog could not be saved</translation>
    </message>
    <message>
        <source>其他错误</source>
        <translation>other error</translation>
    </message>
    <message>
        <source>从未更新</source>
        <translation>never updated</translation>
    </message>
    <message>
        <source>%1更新，%2 项，%3，%4 项新</source>
        <translation>updated %1, %2 entries, %3, %4 new</translation>
    </message>
    <message>
        <source>上次错误（%1）：%2</source>
        <translation>last error (%1): %2</translation>
    </message>
</context>
<context>
    <name>orvane::CHelpBrowser</name>
    <message>
        <source>Orvane 帮助</source>
        <translation>Orvane Help</translation>
    </message>
    <message>
        <source>:/frame/guide_zh.md</source>
        <translation>:/frame/guide.md</translation>
    </message>
    <message>
        <source>help_zh.pdf</source>
        <translation>help.pdf</translation>
    </message>
</context>
<context>
    <name>orvane::CChangesModel</name>
    <message numerus="yes">
        <source>目录，含 %n 项</source>
        <translation>
            <numerusform>Directory, %n entry below</numerusform>
            <numerusform>Directory, %n entries below</numerusform>
        </translation>
    </message>
    <message>
        <source>目录</source>
        <translation>Directory</translation>
    </message>
    <message numerus="yes">
        <source>关注 %n</source>
        <translation>
            <numerusform>%n watched</numerusform>
            <numerusform>%n watched</numerusform>
        </translation>
    </message>
    <message>
        <source>%1（首次更新）</source>
        <translation>%1 (first update)</translation>
    </message>
    <message>
        <source>时间 / 路径</source>
        <translation>Time / Path</translation>
    </message>
    <message>
        <source>变化 / 大小</source>
        <translation>Changes / Size</translation>
    </message>
    <message>
        <source>站点 / 种类</source>
        <translation>Site / Kind</translation>
    </message>
    <message>
        <source>结果</source>
        <translation>Outcome</translation>
    </message>
    <message>
        <source>成功</source>
        <translation>Succeeded</translation>
    </message>
    <message>
        <source>已终止</source>
        <translation>Stopped</translation>
    </message>
    <message>
        <source>部分完成</source>
        <translation>Partly done</translation>
    </message>
    <message>
        <source>失败</source>
        <translation>Failed</translation>
    </message>
    <message>
        <source>新增</source>
        <translation>Added</translation>
    </message>
    <message>
        <source>删除</source>
        <translation>Removed</translation>
    </message>
    <message>
        <source>大小改变</source>
        <translation>Resized</translation>
    </message>
    <message>
        <source>%1：%2</source>
        <translation>%1: %2</translation>
    </message>
</context>
<context>
    <name>orvane::CChangesView</name>
    <message>
        <source>新增</source>
        <translation>Added</translation>
    </message>
    <message>
        <source>删除</source>
        <translation>Removed</translation>
    </message>
    <message>
        <source>大小改变</source>
        <translation>Resized</translation>
    </message>
    <message>
        <source>全部</source>
        <translation>All</translation>
    </message>
    <message>
        <source>今天</source>
        <translation>Today</translation>
    </message>
    <message>
        <source>最近 7 天</source>
        <translation>Last 7 days</translation>
    </message>
    <message>
        <source>最近 30 天</source>
        <translation>Last 30 days</translation>
    </message>
    <message>
        <source>导出…</source>
        <translation>Export…</translation>
    </message>
    <message>
        <source>关注词…</source>
        <translation>Watch words…</translation>
    </message>
    <message>
        <source>无法读取变化记录：%1</source>
        <translation>Cannot read the change journal: %1</translation>
    </message>
    <message>
        <source>所有站点</source>
        <translation>All sites</translation>
    </message>
    <message>
        <source>“%1”已被删除，不在目录中。</source>
        <translation>“%1” was removed; it is in no folder.</translation>
    </message>
    <message>
        <source>站点“%1”已不在列表中。</source>
        <translation>The site “%1” is no longer in the list.</translation>
    </message>
    <message>
        <source>“%1”已不在目录中。</source>
        <translation>“%1” is no longer in its folder.</translation>
    </message>
    <message numerus="yes">
        <source>%n 个地址已复制到剪贴板上。</source>
        <translation>
            <numerusform>%n address copied to the clipboard.</numerusform>
            <numerusform>%n addresses copied to the clipboard.</numerusform>
        </translation>
    </message>
    <message>
        <source>复制路径</source>
        <translation>Copy path</translation>
    </message>
    <message>
        <source>在文件夹中显示</source>
        <translation>Show in folder</translation>
    </message>
    <message>
        <source>导出变化</source>
        <translation>Export changes</translation>
    </message>
    <message>
        <source>无法导出到 %1：%2</source>
        <translation>Cannot export to %1: %2</translation>
    </message>
    <message numerus="yes">
        <source>已导出 %n 项变化到 %1</source>
        <translation>
            <numerusform>Exported %n change to %1</numerusform>
            <numerusform>Exported %n changes to %1</numerusform>
        </translation>
    </message>
    <message>
        <source>隐藏无变化的更新</source>
        <translation>Hide updates without changes</translation>
    </message>
</context>
<context>
    <name>orvane::CWatchWordsDlg</name>
    <message>
        <source>关注词</source>
        <translation>Watch words</translation>
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
        <source>每行一个关注词。含 * 或 ? 的是通配模式（匹配整个名字），其余的按包含查找。</source>
        <translation>One watch word a line. A word with * or ? is a pattern over the whole name; any other word matches names that contain it.</translation>
    </message>
</context>
<context>
    <name>orvane::CFindBar</name>
    <message>
        <source>查找：词、"短语"、*.iso、-排除、a | b、ext:、size:&gt;1G、site:、/正则/</source>
        <translation>Find: words, "phrase", *.iso, -exclude, a | b, ext:, size:&gt;1G, site:, /regex/</translation>
    </message>
    <message>
        <source>导出</source>
        <translation>Export</translation>
    </message>
    <message>
        <source>把结果导出为 CSV 或 JSON 文件</source>
        <translation>Export the hits to a CSV or JSON file</translation>
    </message>
    <message>
        <source>正在读取目录…</source>
        <translation>Reading the catalogs…</translation>
    </message>
    <message>
        <source>查找: %1</source>
        <translation>Find: %1</translation>
    </message>
    <message>
        <source>另一个查找正在进行</source>
        <translation>Another search is running</translation>
    </message>
    <message>
        <source>第 %1 列：%2</source>
        <translation>Column %1: %2</translation>
    </message>
    <message numerus="yes">
        <source>%n 项</source>
        <translation>
            <numerusform>%n entry</numerusform>
            <numerusform>%n entries</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>（另有 %n 项已删除，见 orvane-cli find）</source>
        <translation>
            <numerusform> (and %n removed entry: see orvane-cli find)</numerusform>
            <numerusform> (and %n removed entries: see orvane-cli find)</numerusform>
        </translation>
    </message>
    <message>
        <source>（正在更新索引）</source>
        <translation> (updating the index)</translation>
    </message>
    <message>
        <source>导出查找结果</source>
        <translation>Export the hits</translation>
    </message>
    <message>
        <source>无法导出到 %1：%2</source>
        <translation>Cannot export to %1: %2</translation>
    </message>
</context>
<context>
    <name>orvane::CCertificateDlg</name>
    <message>
        <source>服务器主机密钥</source>
        <translation>Server host key</translation>
    </message>
    <message>
        <source>服务器证书</source>
        <translation>Server certificate</translation>
    </message>
    <message>
        <source>警告：站点“%1”的服务器主机密钥已经改变！</source>
        <translation>WARNING: the host key of the server of &quot;%1&quot; has changed!</translation>
    </message>
    <message>
        <source>警告：站点“%1”的服务器证书已经改变！</source>
        <translation>WARNING: the certificate of the server of &quot;%1&quot; has changed!</translation>
    </message>
    <message>
        <source>可能有人在截取连接。只有确知服务器更换了密钥时才接受新的密钥。</source>
        <translation>Someone may be intercepting the connection. Accept the new key only if you know the server's key was replaced.</translation>
    </message>
    <message>
        <source>站点“%1”的服务器出示的主机密钥不在信任列表中。</source>
        <translation>The host key the server of &quot;%1&quot; presented is not among the trusted keys.</translation>
    </message>
    <message>
        <source>站点“%1”的服务器出示的证书不受系统信任。</source>
        <translation>The certificate the server of &quot;%1&quot; presented is not trusted by the system.</translation>
    </message>
    <message>
        <source>请核对指纹后再接受。接受后只信任这个密钥。</source>
        <translation>Check the fingerprint before you accept it. Once accepted, this key and no other is trusted.</translation>
    </message>
    <message>
        <source>不受信任的原因：%1</source>
        <translation>Not trusted because: %1</translation>
    </message>
    <message>
        <source>主体：%1</source>
        <translation>Subject: %1</translation>
    </message>
    <message>
        <source>颁发者：%1</source>
        <translation>Issuer: %1</translation>
    </message>
    <message>
        <source>有效期：%1 至 %2</source>
        <translation>Valid from %1 to %2</translation>
    </message>
    <message>
        <source>自签名</source>
        <translation>self-signed</translation>
    </message>
    <message>
        <source>签发给其他名称</source>
        <translation>issued for another name</translation>
    </message>
    <message>
        <source>已过期</source>
        <translation>expired</translation>
    </message>
    <message>
        <source>尚未生效</source>
        <translation>not yet valid</translation>
    </message>
    <message>
        <source>颁发者未知</source>
        <translation>unknown issuer</translation>
    </message>
    <message>
        <source>不在任何已知主机文件中</source>
        <translation>not in any known-hosts file</translation>
    </message>
    <message>
        <source>，</source>
        <translation>, </translation>
    </message>
    <message>
        <source>SHA-256 指纹：%1</source>
        <translation>SHA-256 fingerprint: %1</translation>
    </message>
    <message>
        <source>之前接受的指纹：%1</source>
        <translation>Fingerprint accepted before: %1</translation>
    </message>
    <message>
        <source>接受并更新</source>
        <translation>Accept and update</translation>
    </message>
    <message>
        <source>拒绝</source>
        <translation>Reject</translation>
    </message>
</context>
</TS>
