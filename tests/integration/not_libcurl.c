/* Found under libcurl's soname, but without any of libcurl's functions. */
int tessmoor_not_libcurl = 1;
