// client/web_site.h
// The product web site. Every address the program shows or opens is built
// from this one host, in the code and in the resource script alike.
#pragma once

#define KESTREL_WEB_HOST "www.corvane.com"
#define KESTREL_WEB_SITE "http://" KESTREL_WEB_HOST

// Opened by Help > Online help.
#define KESTREL_FORUM_URL KESTREL_WEB_SITE "/bbs/index.asp?boardid=7"
// Shown by the home page.
#define KESTREL_CLIENT_PAGE_URL KESTREL_WEB_SITE "/CorvaneProxyAdv/client.htm"
